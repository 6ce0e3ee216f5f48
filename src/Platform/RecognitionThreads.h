#pragma once

namespace Platform::RecognitionThreads {

// How one recognition shares the processors. It reads on `readers` threads at once, each with an
// engine of its own, and each engine splits the steps of its network among a team of
// `teamWidth` threads: readers × teamWidth threads run at once, never more than the processors
// that other work leaves free (and at least one).
//
// A team splits steps that take microseconds, and its threads spin between them: a second thread
// saves a reading a tenth of its time at best and costs half as much processor time again, and
// where the threads outnumber the free processors they wait for each other for turns and a
// reading takes several times as long. Lines read side by side on threads of their own share out
// without that cost. So a recognition's threads read lines and run teams of one; only a reading
// that has no lines beside it (the page itself) gets a team of two, and only while most of the
// machine is idle.
struct Plan
{
    int readers = 1;
    int teamWidth = 1;
};

// For `readings` readings that may run side by side (1 for the page), on a machine of
// `processors` processors on which `busy` threads of other work run or wait to run.
Plan plan(int processors, int busy, int readings);

// The threads of the whole machine, this process's included, that run or wait for a processor
// at this moment, besides the calling one: a sample of the load as it is now, where the load
// averages lag by a minute and more. 0 when it cannot be told.
int busyThreads();

// The plan for `readings` readings on this machine as it is now.
Plan planForNow(int readings);

// Makes the engine's teams on the calling thread `width` threads wide at most. Tesseract asks for
// teams of a fixed width, so the width goes through the runtime's own settings, on the runtime
// Tesseract brought along; a setting the user made in the environment (OMP_THREAD_LIMIT and the
// like) stands instead.
void limitTeamsOnThisThread(int width);

} // namespace Platform::RecognitionThreads
