#pragma once

// What every benchmark file of quillomare-bench shares: failing a case with a message, the peak
// memory of the measured work, the scratch folder and its files, and generated content that is the
// same on every run.

#include <QuillomareCore/ClipSettings.h>
#include <QuillomareCore/ClipboardItem.h>
#include <QuillomareCore/Json.h>

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <QByteArray>
#include <QDateTime>
#include <QUuid>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <stdexcept>

namespace Bench {

// The entry types the benchmarks build their histories of.
using QuillomareCore::ClipboardItem;
using QuillomareCore::ClipboardPayload;
using QuillomareCore::ClipKind;

constexpr double kMB = 1000.0 * 1000.0;

// A case that sets this counter promises to hold the GUI thread no longer than that many
// milliseconds per iteration; the console reporter checks it under the table.
constexpr char kGoalCounter[] = "goal_ms";
// One frame at 60 Hz.
constexpr double kFrameMilliseconds = 16.0;

[[noreturn]] inline void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

// --- Memory

inline qint64 procKilobytes(const char* path, const char* field)
{
    FILE* file = std::fopen(path, "r");
    if (!file)
        return -1;
    const size_t fieldLength = std::strlen(field);
    char line[256];
    qint64 value = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, field, fieldLength) == 0 && line[fieldLength] == ':') {
            value = std::strtoll(line + fieldLength + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

inline qint64 statusKilobytes(const char* field)
{
    return procKilobytes("/proc/self/status", field);
}

// Writing "5" to clear_refs lowers the kernel's high-water mark (VmHWM) to the current resident
// size, so VmHWM read after the work is the peak of that work alone.
inline bool resetPeakResidentSize()
{
    FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (!file)
        return false;
    const bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}

// Made after a case's setup. The heap pages that setup freed stay resident and would be reused
// unseen, so they are given back first: the first iteration's rise then shows everything the work
// allocates. Later iterations reuse what the earlier ones freed, as a long-running process does.
class PeakMemory
{
public:
    PeakMemory() { malloc_trim(0); }

    void start()
    {
        resetPeakResidentSize();
        m_startKB = statusKilobytes("VmRSS");
    }

    void stop()
    {
        const qint64 peakKB = statusKilobytes("VmHWM");
        m_peakKB = std::max(m_peakKB, peakKB);
        m_riseKB = std::max(m_riseKB, peakKB - m_startKB);
    }

    void report(benchmark::State& state) const
    {
        state.counters["peak_MB"] = double(m_peakKB) * 1024 / kMB;
        state.counters["rise_MB"] = double(m_riseKB) * 1024 / kMB;
    }

private:
    qint64 m_startKB = 0;
    qint64 m_peakKB = 0;
    qint64 m_riseKB = 0;
};

// Inside a benchmark loop whose body starts with PauseTiming(): the clock and the memory peak
// cover `work` only, not the setup or the cleanup around it.
template <typename F> void measured(benchmark::State& state, PeakMemory& memory, F&& work)
{
    memory.start();
    state.ResumeTiming();
    work();
    state.PauseTiming();
    memory.stop();
}

// A failure ends the case with its message instead of the whole run.
template <typename F> void guarded(benchmark::State& state, F&& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        state.SkipWithError(error.what());
    }
}

// --- Content

// splitmix64: fast, and the same bytes for the same seed, so a large history can be regenerated
// instead of kept in memory.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed) {}

    quint64 next()
    {
        quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    qsizetype below(qsizetype bound) { return static_cast<qsizetype>(next() % static_cast<quint64>(bound)); }

private:
    quint64 m_state;
};

// Random bytes do not compress, as real PNG data barely does.
inline QByteArray randomBytes(qsizetype size, quint64 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    Random random(seed);
    char* data = bytes.data();
    for (qsizetype offset = 0; offset < size; offset += 8) {
        const quint64 value = random.next();
        std::memcpy(data + offset, &value, static_cast<size_t>(std::min<qsizetype>(8, size - offset)));
    }
    return bytes;
}

// Notes, messages and snippets people copy: English and Chinese words, numbers and punctuation.
// Nothing here may look like a secret: no key words of the token rule and never two numbers in a
// row, which the card rule would read as one long number.
class TextGenerator
{
public:
    explicit TextGenerator(quint64 seed) : m_random(seed) {}

    QString text(qsizetype length)
    {
        static const QStringList words =
            QStringLiteral(
                "the meeting moved to tomorrow afternoon please review draft of quarterly budget report "
                "before lunch invoice order shipping parcel arrived at station we need confirm release "
                "notes for version build failed on branch after merge coffee with team window garden "
                "weather forecast train ticket museum friday chapter summary customer address street "
                "recipe sugar flour minutes server latency cache design update travel schedule and or "
                "会议 明天 下午 项目 进度 报告 我们 需要 确认 预算 文档 更新 地址 北京市 上海 发货 订单 谢谢 "
                "请查收 附件 天气 周末 计划 客户 版本 发布")
                .split(QLatin1Char(' '));
        static const QStringList separators = {
            QStringLiteral(" "),  QStringLiteral(" "),  QStringLiteral(" "),   QStringLiteral(" "),
            QStringLiteral(", "), QStringLiteral(". "), QStringLiteral("; "),  QStringLiteral(": "),
            QStringLiteral("! "), QStringLiteral("? "), QStringLiteral(" - "), QStringLiteral("\n"),
            QStringLiteral("，"), QStringLiteral("。"), QStringLiteral("、"),  QStringLiteral(" (")};

        QString out;
        out.reserve(length + 32);
        while (out.size() < length) {
            if (m_random.below(6) == 0) {
                out += number();
                out += QLatin1Char(' ');
            }
            out += words[m_random.below(words.size())];
            out += separators[m_random.below(separators.size())];
        }
        return out;
    }

    // Mostly short snippets, some paragraphs, a few pages.
    QString historyText()
    {
        const qsizetype roll = m_random.below(100);
        if (roll < 70)
            return text(20 + m_random.below(180));
        if (roll < 95)
            return text(200 + m_random.below(1800));
        return text(2000 + m_random.below(8000));
    }

private:
    QString number()
    {
        switch (m_random.below(5)) {
        case 0:
            return QString::number(m_random.below(100));
        case 1:
            return QString::number(1000 + m_random.below(900000));
        case 2:
            return QStringLiteral("%1.%2").arg(m_random.below(100)).arg(m_random.below(10));
        case 3:
            return QStringLiteral("%1%").arg(m_random.below(100));
        default:
            return QStringLiteral("%1:%2").arg(m_random.below(24)).arg(m_random.below(60), 2, 10, QLatin1Char('0'));
        }
    }

    Random m_random;
};

// Ordinary text of at least `utf8Bytes` bytes in UTF-8, in paragraphs of about 2,000 characters.
inline QString ordinaryText(qsizetype utf8Bytes, quint64 seed, qsizetype* actualUtf8Bytes = nullptr)
{
    TextGenerator generator(seed);
    QString text;
    qsizetype bytes = 0;
    while (bytes < utf8Bytes) {
        const QString paragraph = generator.text(2000) + QLatin1Char('\n');
        bytes += paragraph.toUtf8().size();
        text += paragraph;
    }
    if (actualUtf8Bytes)
        *actualUtf8Bytes = bytes;
    return text;
}

// --- Folders

// One folder for the whole run, under $QUILLOMARE_BENCH_DIR (else /tmp), removed at exit.
inline const QString& benchFolder()
{
    static QTemporaryDir folder = [] {
        QString base = qEnvironmentVariable("QUILLOMARE_BENCH_DIR");
        if (base.isEmpty())
            base = QStringLiteral("/tmp");
        QDir().mkpath(base);
        return QTemporaryDir(base + QStringLiteral("/quillomare-bench-XXXXXX"));
    }();
    static const QString path = folder.isValid() ? folder.path() : QString();
    if (path.isEmpty())
        fail(QStringLiteral("Cannot create a temporary folder for the benchmark files"));
    return path;
}

inline QString benchFile(const QString& name)
{
    return benchFolder() + QLatin1Char('/') + name;
}

// Removes the file when the case ends, however it ends.
class FileCleanup
{
public:
    explicit FileCleanup(QString path) : m_path(std::move(path)) {}
    ~FileCleanup() { QFile::remove(m_path); }
    FileCleanup(const FileCleanup&) = delete;
    FileCleanup& operator=(const FileCleanup&) = delete;

private:
    QString m_path;
};

inline QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

// The store's file layout written without the store, so that a history is set up in one write
// instead of one save per entry, and its images are never all in memory. `itemAt(i)` gives the
// i-th entry, newest first.
template <typename ItemAt>
void writeHistoryFile(const QString& path, qsizetype count, const QuillomareCore::ClipSettings& settings,
                      ItemAt&& itemAt)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    QuillomareCore::Json::Writer writer(&file);
    writer.beginObject();
    writer.key("deletedContentHashes");
    writer.beginArray();
    writer.endArray();
    writer.key("deletionTombstones");
    writer.beginArray();
    writer.endArray();
    writer.key("items");
    writer.beginArray();
    for (qsizetype i = 0; i < count; ++i)
        itemAt(i).encode(writer);
    writer.endArray();
    writer.key("settings");
    settings.encode(writer);
    writer.endObject();
    if (!writer.flush())
        fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

// A stored screenshot of a big history: 8 MiB of incompressible bytes (an image as the store keeps
// it), the index-th minute before 2025, its hash and id its own.
inline QuillomareCore::ClipboardItem screenshotEntry(int index)
{
    using namespace QuillomareCore;
    ClipboardItem item;
    item.id = QUuid::createUuid();
    item.createdAt = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC).addSecs(-60 * (index + 1));
    item.kind = ClipKind::image;
    item.preview = QStringLiteral("Image · 8.4 MB");
    item.contentHash = QStringLiteral("image-%1").arg(index);
    item.sourcePlatform = ClipSourcePlatform::mac;
    item.isLocalOnly = true;
    item.payload = ClipboardPayload::imagePNG(randomBytes(8 * 1024 * 1024, 1000 + quint64(index)));
    return item;
}

// --- Pictures

inline QByteArray pngOf(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace Bench
