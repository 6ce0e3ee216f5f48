#include "StoredImage.h"

#include "Files.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Language.h"

#include <QCryptographicHash>
#include <QThreadPool>

#include <cerrno>
#include <list>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace QuillomareCore {

HistoryFileVersion::~HistoryFileVersion()
{
    if (m_descriptor < 0)
        return;
    // A save renames a new file over this one, so the last descriptor of a replaced version is
    // what frees its blocks: closing it takes hundreds of milliseconds for a large history, and
    // the last entry to let go of it is usually on the GUI thread.
    // (At exit, after the pool is gone, there is no GUI thread left to spare.)
    const int descriptor = m_descriptor;
    if (QThreadPool* pool = QThreadPool::globalInstance())
        pool->start([descriptor] { ::close(descriptor); });
    else
        ::close(descriptor);
}

std::atomic<int> HistoryFileVersion::failReadsForTesting{0};

HistoryFileVersion::Stamp HistoryFileVersion::stamp() const
{
    struct stat status = {};
    if (::fstat(m_descriptor, &status) != 0)
        return {};
    return {qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec, qint64(status.st_size)};
}

bool HistoryFileVersion::read(qint64 offset, char* into, qint64 size, QString* error, bool* endedEarly) const
{
    if (endedEarly)
        *endedEarly = false;
    while (size > 0) {
        ssize_t got = -1;
        if (const int injected = failReadsForTesting.load(std::memory_order_relaxed))
            errno = injected;
        else
            got = ::pread(m_descriptor, into, static_cast<size_t>(size), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (endedEarly)
                *endedEarly = got == 0;
            if (error)
                *error = got < 0 ? Files::reason(errno)
                                 : Language::text(QStringLiteral("历史文件比预期短"),
                                                  QStringLiteral("the history file is shorter than expected"));
            return false;
        }
        into += got;
        offset += got;
        size -= got;
    }
    return true;
}

namespace {

// The images read last, so that a thumbnail, the details and a copy of one entry read it once;
// small enough that a history of large images is never held whole.
class RecentImages
{
public:
    static RecentImages& shared()
    {
        static RecentImages instance;
        return instance;
    }

    std::optional<QByteArray> find(const HistoryFileVersion* file, qint64 offset)
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->file.lock().get() == file && it->offset == offset) {
                m_entries.splice(m_entries.begin(), m_entries, it);
                return m_entries.front().bytes;
            }
        }
        return std::nullopt;
    }

    // The text moved to a newer version: what was read from the old place is still that image.
    void moved(const HistoryFileVersion* from, qint64 fromOffset, const std::shared_ptr<const HistoryFileVersion>& to,
               qint64 toOffset)
    {
        std::lock_guard lock(m_mutex);
        for (Entry& entry : m_entries) {
            if (entry.file.lock().get() == from && entry.offset == fromOffset) {
                entry.file = to;
                entry.offset = toOffset;
                return;
            }
        }
    }

    void insert(const std::shared_ptr<const HistoryFileVersion>& file, qint64 offset, const QByteArray& bytes)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_front({file, offset, bytes});
        m_total += bytes.size();
        while (m_total > kBudget && m_entries.size() > 1) {
            m_total -= m_entries.back().bytes.size();
            m_entries.pop_back();
        }
        // A file version nobody uses any more takes its images along.
        m_entries.remove_if([this](const Entry& entry) {
            if (!entry.file.expired())
                return false;
            m_total -= entry.bytes.size();
            return true;
        });
    }

private:
    static constexpr qsizetype kBudget = 24 * 1024 * 1024;
    struct Entry
    {
        std::weak_ptr<const HistoryFileVersion> file;
        qint64 offset;
        QByteArray bytes;
    };
    std::mutex m_mutex;
    std::list<Entry> m_entries;
    qsizetype m_total = 0;
};

QString damagedText()
{
    return Language::text(QStringLiteral("图片数据已损坏"), QStringLiteral("its data is damaged"));
}

QString substitutedText()
{
    return Language::text(QStringLiteral("文件中的图片已被替换"),
                          QStringLiteral("the file holds a different image in its place"));
}

bool samePlace(const StoredImageText::Place& a, const StoredImageText::Place& b)
{
    return a.file == b.file && a.offset == b.offset && a.length == b.length;
}

} // namespace

StoredImageText::StoredImageText(Place place, qsizetype byteCount, QByteArray head, QString contentHash)
    : byteCount(byteCount), head(std::move(head)), contentHash(std::move(contentHash)), m_place(std::move(place))
{
}

StoredImageText::Place StoredImageText::place() const
{
    std::lock_guard lock(m_mutex);
    return m_place;
}

void StoredImageText::moveTo(Place place, bool rewritten) const
{
    Place previous;
    {
        std::lock_guard lock(m_mutex);
        // A copied text is the image where it was checked as long as that file was not
        // written since; the stamp of the new version is what later reads compare with.
        const bool checked =
            rewritten || (m_checkedStamp && m_place.file && m_place.file->stamp() == *m_checkedStamp);
        previous = std::exchange(m_place, place);
        m_checkedStamp.reset();
        if (checked && m_place.file)
            m_checkedStamp = m_place.file->stamp();
        // Written there from the checked copy a read kept: the damage of the old place is not
        // true of the new one. (A copied text keeps any damage found meanwhile.)
        if (rewritten) {
            m_damage.clear();
            m_damaged.store(false, std::memory_order_release);
            m_substituted.store(false, std::memory_order_release);
        }
    }
    if (previous.file)
        RecentImages::shared().moved(previous.file.get(), previous.offset, place.file, place.offset);
    // `previous` goes here, outside the lock: the last holder of a version closes it.
}

QString StoredImageText::damage() const
{
    std::lock_guard lock(m_mutex);
    return m_damage;
}

void StoredImageText::markDamaged(const QString& reason) const
{
    {
        std::lock_guard lock(m_mutex);
        if (m_damage.isEmpty())
            m_damage = reason;
    }
    m_damaged.store(true, std::memory_order_release);
}

void StoredImageText::markDamagedAt(const Place& checked, const QString& reason, bool substituted) const
{
    {
        std::lock_guard lock(m_mutex);
        if (!samePlace(m_place, checked))
            return;
        if (m_damage.isEmpty())
            m_damage = reason;
        m_checkedStamp.reset();
        if (substituted)
            m_substituted.store(true, std::memory_order_release);
    }
    m_damaged.store(true, std::memory_order_release);
}

void StoredImageText::markChecked(const Place& checked, HistoryFileVersion::Stamp stamp) const
{
    std::lock_guard lock(m_mutex);
    if (samePlace(m_place, checked) && !isDamaged())
        m_checkedStamp = stamp;
}

bool StoredImageText::isCheckedAt(const Place& where) const
{
    std::optional<HistoryFileVersion::Stamp> stamp;
    {
        std::lock_guard lock(m_mutex);
        if (!samePlace(m_place, where))
            return false;
        stamp = m_checkedStamp;
    }
    return stamp && where.file && where.file->stamp() == *stamp;
}

void StoredImageText::markCheckedWhereItIs() const
{
    const Place where = place();
    if (where.file)
        markChecked(where, where.file->stamp());
}

bool StoredImageText::isChecked() const
{
    return isCheckedAt(place());
}

void StoredImageText::check(const std::atomic<bool>* cancelled) const
{
    if (contentHash.isEmpty())
        return;
    while (!isDamaged() && !(cancelled && cancelled->load(std::memory_order_relaxed))) {
        const Place where = place();
        if (!where.file || isCheckedAt(where))
            return;
        // Taken before reading: a write into the file while it is read leaves a stamp that
        // differs, and the next read checks again.
        const HistoryFileVersion::Stamp stamp = where.file->stamp();
        // Slices of whole groups of four letters: three megabytes of text, 2.25 of image.
        constexpr qint64 slice = 3 * 1024 * 1024;
        QByteArray text;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 decoded = 0;
        for (qint64 from = 0; from < where.length; from += slice) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            const qint64 size = std::min(slice, where.length - from);
            text.resize(size);
            QString reason;
            bool endedEarly = false;
            if (!where.file->read(where.offset + from, text.data(), size, &reason, &endedEarly)) {
                // As for a read that hands the image out: only a file cut short is damage.
                if (endedEarly)
                    markDamagedAt(where, reason);
                return;
            }
            const std::string_view letters(text.constData(), static_cast<size_t>(size));
            const bool last = from + size == where.length;
            auto bytes = Base64Text::isValid(letters) && (last || !letters.ends_with('='))
                             ? Base64::decode(letters)
                             : std::nullopt;
            if (!bytes) {
                markDamagedAt(where, damagedText());
                return;
            }
            decoded += bytes->size();
            hash.addData(*bytes);
        }
        if (decoded != byteCount) {
            markDamagedAt(where, damagedText());
        } else if (QString::fromLatin1(hash.result().toHex()) != contentHash) {
            markDamagedAt(where, substitutedText(), true);
        } else {
            markChecked(where, stamp);
        }
        // A save moved the text while it was read: its new place is checked in turn.
    }
}

void StoredImageText::checkEnd() const
{
    const Place where = place();
    if (!where.file || isDamaged())
        return;
    char quote = 0;
    QString reason;
    bool endedEarly = false;
    if (!where.file->read(where.offset + where.length, &quote, 1, &reason, &endedEarly)) {
        // A read that failed tells nothing of the text: the copy meets the error again, if any.
        if (endedEarly)
            markDamaged(reason);
    } else if (quote != '"')
        markDamaged(damagedText());
}

std::optional<QByteArray> StoredImageText::recentCopy() const
{
    const Place where = place();
    if (!where.file)
        return std::nullopt;
    return RecentImages::shared().find(where.file.get(), where.offset);
}

std::optional<QByteArray> StoredImageText::load(QString* error) const
{
    const Place where = place();
    if (!where.file) {
        if (error)
            *error = unreadableImageText(QString());
        return std::nullopt;
    }
    if (auto cached = RecentImages::shared().find(where.file.get(), where.offset))
        return cached;
    if (isDamaged()) {
        if (error)
            *error = unreadableImageText(damage());
        return std::nullopt;
    }
    // Before reading: a write into the file meanwhile leaves a stamp that no longer matches.
    const HistoryFileVersion::Stamp stamp = where.file->stamp();
    QByteArray text(where.length, Qt::Uninitialized);
    QString reason;
    bool endedEarly = false;
    if (!where.file->read(where.offset, text.data(), where.length, &reason, &endedEarly)) {
        // Cut short: the entry cannot be shown, copied or saved any more. A read that failed
        // (EIO, ENOMEM…) may pass: the entry stays, and is read again when next asked.
        if (endedEarly)
            markDamaged(reason);
        if (error)
            *error = unreadableImageText(reason);
        return std::nullopt;
    }
    auto bytes = Base64::decode(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    if (!bytes || bytes->size() != byteCount) {
        markDamagedAt(where, damagedText());
        if (error)
            *error = unreadableImageText(isDamaged() ? damage() : damagedText());
        return std::nullopt;
    }
    // Valid letters in the image's place may still be another picture: only its identity tells,
    // and nothing leaves here unchecked. Once checked, and while the file keeps its stamp, a
    // read does not hash the image again.
    if (!contentHash.isEmpty() && !isCheckedAt(where)) {
        if (ClipHashing::imageContentHash(*bytes) != contentHash) {
            markDamagedAt(where, substitutedText(), true);
            if (error)
                *error = unreadableImageText(substitutedText());
            return std::nullopt;
        }
        markChecked(where, stamp);
    }
    RecentImages::shared().insert(where.file, where.offset, *bytes);
    return bytes;
}

StoredImageCheck::StoredImageCheck(std::vector<std::weak_ptr<const StoredImageText>> images,
                                   std::function<void()> damageFound)
{
    m_thread = std::thread([this, images = std::move(images), damageFound = std::move(damageFound)] {
        // The lowest share of the processor and of the disk: the check waits for everything else.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
        constexpr int bestEffortClass = 2, lowestLevel = 7, whoThread = 1;
        ::syscall(SYS_ioprio_set, whoThread, 0, (bestEffortClass << 13) | lowestLevel);
        for (const auto& weak : images) {
            if (m_cancelled.load(std::memory_order_relaxed))
                break;
            const auto image = weak.lock();
            if (!image)
                continue;
            // Damage a read found before the check came to the image is reported as well.
            image->check(&m_cancelled);
            if (image->isDamaged() && damageFound)
                damageFound();
        }
        m_finished.store(true, std::memory_order_release);
    });
}

StoredImageCheck::~StoredImageCheck()
{
    m_cancelled.store(true, std::memory_order_relaxed);
    m_thread.join();
}

bool isImageContentHash(const QString& hash)
{
    if (hash.size() != 64)
        return false;
    for (const QChar c : hash) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

QString unreadableImageText(const QString& reason)
{
    const QString chinese = QStringLiteral("无法从历史文件读取图片");
    const QString english = QStringLiteral("The image couldn't be read from the history file");
    if (reason.isEmpty())
        return Language::text(chinese, english);
    return Language::text(chinese + QStringLiteral("：") + reason, english + QStringLiteral(": ") + reason);
}

namespace Base64Text {

namespace {

bool isLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

} // namespace

const char* skipLetters(const char* text, const char* end)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* const last = reinterpret_cast<const unsigned char*>(end);
#if defined(__SSE2__)
    // Bytes of 0x80 and above are negative as signed bytes and fall outside every range.
    const __m128i belowA = _mm_set1_epi8('A' - 1), aboveZ = _mm_set1_epi8('Z' + 1);
    const __m128i belowa = _mm_set1_epi8('a' - 1), abovez = _mm_set1_epi8('z' + 1);
    const __m128i below0 = _mm_set1_epi8('0' - 1), above9 = _mm_set1_epi8('9' + 1);
    const __m128i plus = _mm_set1_epi8('+'), slash = _mm_set1_epi8('/');
    auto letters = [&](__m128i x) {
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(x, belowA), _mm_cmplt_epi8(x, aboveZ));
        const __m128i lower = _mm_and_si128(_mm_cmpgt_epi8(x, belowa), _mm_cmplt_epi8(x, abovez));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(x, below0), _mm_cmplt_epi8(x, above9));
        const __m128i sign = _mm_or_si128(_mm_cmpeq_epi8(x, plus), _mm_cmpeq_epi8(x, slash));
        return _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(digit, sign));
    };
    // Whole blocks of 64 while every byte is a letter; the block that holds the first other byte
    // is looked at byte by byte below.
    while (last - p >= 64) {
        __m128i all = letters(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        all = _mm_and_si128(all, letters(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))));
        all = _mm_and_si128(all, letters(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))));
        all = _mm_and_si128(all, letters(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))));
        if (_mm_movemask_epi8(all) != 0xFFFF)
            break;
        p += 64;
    }
#endif
    while (p < last && isLetter(*p))
        ++p;
    return reinterpret_cast<const char*>(p);
}

namespace {

qsizetype paddingOf(std::string_view text)
{
    const qsizetype n = static_cast<qsizetype>(text.size());
    if (n == 0 || text[n - 1] != '=')
        return 0;
    return text[n - 2] == '=' ? 2 : 1;
}

} // namespace

bool isValid(std::string_view text)
{
    return isValid(text, skipLetters(text.data(), text.data() + text.size()));
}

bool isValid(std::string_view text, const char* lettersEnd)
{
    const qsizetype n = static_cast<qsizetype>(text.size());
    if (n % 4 != 0)
        return false;
    return lettersEnd >= text.data() + (n - paddingOf(text));
}

qsizetype decodedSize(std::string_view text)
{
    return static_cast<qsizetype>(text.size()) / 4 * 3 - paddingOf(text);
}

} // namespace Base64Text

} // namespace QuillomareCore
