#include "RecognitionThreads.h"

#include <QThread>

#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace Platform::RecognitionThreads {

namespace {

// Lines read side by side: more gain little, since a page's lines are few and the languages'
// engines are lent out to the program's other recognitions as well.
constexpr int kMostReaders = 3;

// A team of two for a reading alone, while at least this many processors are free.
constexpr int kWidestTeam = 2;
constexpr int kFreeForTeam = 4;

} // namespace

Plan plan(int processors, int busy, int readings)
{
    const int free = std::max(1, processors - std::max(0, busy));
    Plan result;
    result.readers = std::clamp(std::min(free, kMostReaders), 1, std::max(1, readings));
    result.teamWidth = result.readers == 1 && free >= kFreeForTeam ? kWidestTeam : 1;
    return result;
}

int busyThreads()
{
    // The fourth field of /proc/loadavg: "running/all", the running counting this thread.
    FILE* file = std::fopen("/proc/loadavg", "re");
    if (!file)
        return 0;
    double average[3] = {};
    int running = 0;
    int all = 0;
    const int fields = std::fscanf(file, "%lf %lf %lf %d/%d", &average[0], &average[1], &average[2], &running, &all);
    std::fclose(file);
    return fields == 5 ? std::max(0, running - 1) : 0;
}

Plan planForNow(int readings)
{
    return plan(QThread::idealThreadCount(), busyThreads(), readings);
}

void limitTeamsOnThisThread(int width)
{
    struct Runtime
    {
        void (*setMaxActiveLevels)(int) = nullptr;
        void (*setDynamic)(int) = nullptr;
        void (*setNumThreads)(int) = nullptr;
    };
    // The runtime reads the environment once, as it loads; the user's settings are left alone.
    static const Runtime runtime = [] {
        Runtime found;
        for (const char* variable :
             {"OMP_THREAD_LIMIT", "OMP_NUM_THREADS", "OMP_DYNAMIC", "OMP_MAX_ACTIVE_LEVELS", "OMP_NESTED"})
            if (std::getenv(variable))
                return found;
        found.setMaxActiveLevels = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "omp_set_max_active_levels"));
        found.setDynamic = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "omp_set_dynamic"));
        found.setNumThreads = reinterpret_cast<void (*)(int)>(dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
        if (!found.setMaxActiveLevels || !found.setDynamic || !found.setNumThreads)
            return Runtime{};
        return found;
    }();
    if (!runtime.setMaxActiveLevels)
        return;
    if (width <= 1) {
        // No parallel level is active: every team is the thread alone.
        runtime.setMaxActiveLevels(0);
        return;
    }
    // A team asks for a fixed number of threads, which only the runtime's dynamic adjustment
    // lowers: to the thread's number of threads less the load average of the last fifteen
    // minutes (GNU libgomp, rounded as it does). That average is added back, so that the team
    // comes out `width` wide as long as the processors allow.
    double average[3] = {};
    const unsigned load = getloadavg(average, 3) == 3 ? unsigned(average[2] + 0.1) : 0;
    runtime.setMaxActiveLevels(1);
    runtime.setDynamic(1);
    runtime.setNumThreads(width + int(std::min(load, 1024u)));
}

} // namespace Platform::RecognitionThreads
