#include "StoredImage.h"

#include "Files.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Language.h"
#include "MonotonicClock.h"

#include <QCryptographicHash>
#include <QThreadPool>

#include <cerrno>
#include <chrono>
#include <list>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace QuillomareCore {

namespace {

// How often a read that met another program's write is made again before giving up for now.
constexpr int kReadAttempts = 5;

} // namespace

HistoryFileVersion::HistoryFileVersion(int descriptor, Locator locator, bool layoutKnown)
    : m_descriptor(descriptor), m_locator(std::move(locator))
{
    const Stamp now = settledStamp();
    if (layoutKnown)
        m_layout.stamp = now;
    m_layout.readAt = MonotonicClock::shared()->now();
}

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
    qint64 changed = qint64(status.st_ctim.tv_sec) * 1'000'000'000 + status.st_ctim.tv_nsec;
    if (status.st_nlink > 0) {
        m_changedWhileLinked.store(changed, std::memory_order_relaxed);
    } else if (const qint64 linked = m_changedWhileLinked.load(std::memory_order_relaxed); linked >= 0) {
        // Its last name taken away (by our own save, most often): the change that did it is no
        // write, and what its size and modification time say still holds.
        changed = linked;
    }
    return {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec, changed};
}

HistoryFileVersion::Stamp HistoryFileVersion::settledStamp() const
{
    // Change times come from the coarse clock (a tick of a few milliseconds), unless the file
    // system dates a change finer once its time was looked at: either way, once that clock
    // shows a later time, the next write is dated later. A change dated further ahead than a
    // tick is no tick: the clock was set back since, and nobody waits for it to catch up.
    constexpr qint64 longestTick = 50'000'000;
    for (int wait = 0;; ++wait) {
        const Stamp now = stamp();
        timespec clock = {};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &clock);
        const qint64 ahead = now.changed - (qint64(clock.tv_sec) * 1'000'000'000 + clock.tv_nsec);
        if (ahead < 0 || ahead > longestTick || wait >= 50)
            return now;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool HistoryFileVersion::staysUnreadable(const Layout& layout)
{
    return !layout.whole && MonotonicClock::shared()->now() - layout.readAt >= unreadableGraceMilliseconds;
}

namespace {

QString shorterText()
{
    return Language::text(QStringLiteral("历史文件比预期短"), QStringLiteral("the history file is shorter than expected"));
}

} // namespace

std::optional<HistoryFileVersion::Layout> HistoryFileVersion::layout(QString* error) const
{
    {
        std::lock_guard lock(m_layoutMutex);
        if (!m_locator || stamp() == m_layout.stamp)
            return m_layout;
    }
    std::lock_guard reading(m_readingAgain);
    QString reason = historyFileChangingText();
    for (int attempt = 0; attempt < 4 * kReadAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(10 * attempt, 100)));
        const Stamp before = settledStamp();
        {
            std::lock_guard lock(m_layoutMutex);
            if (before == m_layout.stamp) // read again meanwhile, by whoever held the read
                return m_layout;
        }
        std::vector<FoundImage> found;
        bool whole = true;
        const bool read = m_locator(*this, found, whole, reason);
        // Written into again while it was read (a copy still under way): what was found may be
        // neither the old nor the new layout.
        if (stamp() != before)
            continue;
        if (!read)
            break;
        auto byEntry = std::make_shared<QHash<QUuid, FoundImage>>();
        auto byContentHash = std::make_shared<QHash<QString, FoundImage>>();
        for (const FoundImage& image : found) {
            if (!image.entryId.isNull())
                byEntry->insert(image.entryId, image);
            if (image.whole && !image.contentHash.isEmpty())
                byContentHash->insert(image.contentHash, image);
        }
        std::lock_guard lock(m_layoutMutex);
        m_layout = Layout{m_layout.generation + 1, before, whole, MonotonicClock::shared()->now(), std::move(byEntry),
                          std::move(byContentHash)};
        return m_layout;
    }
    if (error)
        *error = reason;
    return std::nullopt;
}

bool HistoryFileVersion::holdsLayout(quint64 generation) const
{
    std::lock_guard lock(m_layoutMutex);
    return m_layout.generation == generation && (!m_locator || stamp() == m_layout.stamp);
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
                *error = got < 0 ? Files::reason(errno) : shorterText();
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
// small enough that a history of large images is never held whole. Kept by the text they were
// read for: wherever a save or another program moves the text, and even once the file lost it,
// what was read (and checked) is still that entry's image.
class RecentImages
{
public:
    static RecentImages& shared()
    {
        static RecentImages instance;
        return instance;
    }

    std::optional<QByteArray> find(const StoredImageText* text)
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->text.lock().get() == text) {
                m_entries.splice(m_entries.begin(), m_entries, it);
                return m_entries.front().bytes;
            }
        }
        return std::nullopt;
    }

    void insert(std::weak_ptr<const StoredImageText> text, const QByteArray& bytes)
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_front({std::move(text), bytes});
        m_total += bytes.size();
        while (m_total > kBudget && m_entries.size() > 1) {
            m_total -= m_entries.back().bytes.size();
            m_entries.pop_back();
        }
        // An entry nobody holds any more takes its image along.
        m_entries.remove_if([this](const Entry& entry) {
            if (!entry.text.expired())
                return false;
            m_total -= entry.bytes.size();
            return true;
        });
    }

private:
    static constexpr qsizetype kBudget = 24 * 1024 * 1024;
    struct Entry
    {
        std::weak_ptr<const StoredImageText> text;
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

QString goneText()
{
    return Language::text(QStringLiteral("另一个程序改写了历史文件，其中已没有这张图片"),
                          QStringLiteral("another program rewrote the history file without it"));
}

bool samePlace(const StoredImageText::Place& a, const StoredImageText::Place& b)
{
    return a.file == b.file && a.offset == b.offset && a.length == b.length && a.layout == b.layout;
}

} // namespace

StoredImageText::StoredImageText(Place place, qsizetype byteCount, QByteArray head, QString contentHash,
                                 QUuid entryId)
    : byteCount(byteCount), head(std::move(head)), contentHash(std::move(contentHash)), entryId(entryId),
      m_place(std::move(place))
{
}

StoredImageText::Place StoredImageText::place() const
{
    std::lock_guard lock(m_mutex);
    return m_place;
}

std::optional<StoredImageText::Place> StoredImageText::settledPlace(QString* error) const
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const Place where = place();
        if (!where.file)
            return where;
        const auto layout = where.file->layout(error);
        if (!layout)
            return std::nullopt;
        if (layout->generation == where.layout)
            return where;

        // The same image: the same size and header, and the identity the entry names (which a
        // read checks before handing anything out).
        auto fits = [this](const HistoryFileVersion::FoundImage* found) {
            return found && found->whole && found->byteCount == byteCount && found->head == head &&
                   (contentHash.isEmpty() || found->contentHash == contentHash);
        };
        const auto byEntry = entryId.isNull() ? layout->byEntry->cend() : layout->byEntry->constFind(entryId);
        const HistoryFileVersion::FoundImage* found = byEntry != layout->byEntry->cend() ? &*byEntry : nullptr;
        if (!fits(found) && !contentHash.isEmpty()) {
            const auto byHash = layout->byContentHash->constFind(contentHash);
            if (byHash != layout->byContentHash->cend() && fits(&*byHash))
                found = &*byHash;
        }
        const bool gone = !fits(found);
        // A file that does not parse whole may be a copy still under way: what it lacks may
        // come yet, and cannot be told now. Only once it has stayed so is the text gone.
        if (gone && !layout->whole && !HistoryFileVersion::staysUnreadable(*layout)) {
            const QString reason =
                where.offset + where.length >= layout->stamp.size ? shorterText() : historyFileChangingText();
            {
                std::lock_guard lock(m_mutex);
                if (samePlace(m_place, where))
                    m_awaited = reason;
            }
            if (error)
                *error = reason;
            return std::nullopt;
        }
        // Why, when it is gone: the entry is there with its text spoilt, or with another image
        // (its header, found in memory, still names this one), or the file was cut short before
        // it, or another program wrote it without the entry.
        QString reason;
        if (gone && found && found->entryId == entryId)
            reason = found->whole ? substitutedText() : damagedText();
        else if (gone)
            reason = !layout->whole && where.offset + where.length >= layout->stamp.size ? shorterText() : goneText();
        Place now = where;
        now.layout = layout->generation;
        if (!gone) {
            now.offset = found->offset;
            now.length = found->length;
        }
        {
            std::lock_guard lock(m_mutex);
            if (!samePlace(m_place, where))
                continue; // moved meanwhile: settled from where it is now
            m_place = now;
            m_checkedStamp.reset();
            m_awaited.clear();
            if (gone && m_damage.isEmpty())
                m_damage = reason;
            if (gone)
                m_damaged.store(true, std::memory_order_release);
        }
        return now;
    }
    if (error)
        *error = historyFileChangingText();
    return std::nullopt;
}

std::optional<StoredImageText::Place> StoredImageText::placeToCopy(QString* error) const
{
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const auto settled = settledPlace(error);
        if (!settled || isDamaged())
            return settled;
        // Found by reading a changed version again: the text there is handed on only once it is
        // known to be the image.
        if (settled->layout == 0 || contentHash.isEmpty() || isCheckedAt(*settled))
            return settled;
        check();
        if (isDamaged() || isCheckedAt(*settled))
            return settled;
    }
    if (error)
        *error = historyFileChangingText();
    return std::nullopt;
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
        m_awaited.clear();
        if (checked && m_place.file)
            m_checkedStamp = m_place.file->settledStamp();
        // Written there from the checked copy a read kept: the damage of the old place is not
        // true of the new one. (A copied text keeps any damage found meanwhile.)
        if (rewritten) {
            m_damage.clear();
            m_damaged.store(false, std::memory_order_release);
            m_substituted.store(false, std::memory_order_release);
        }
    }
    // `previous` goes here, outside the lock: the last holder of a version closes it.
}

QString StoredImageText::damage() const
{
    std::lock_guard lock(m_mutex);
    return m_damage;
}

QString StoredImageText::awaited() const
{
    std::lock_guard lock(m_mutex);
    return m_awaited;
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

bool StoredImageText::markDamagedAt(const Place& checked, const QString& reason, bool substituted) const
{
    {
        std::lock_guard lock(m_mutex);
        if (!samePlace(m_place, checked) || (checked.file && !checked.file->holdsLayout(checked.layout)))
            return false;
        if (m_damage.isEmpty())
            m_damage = reason;
        m_checkedStamp.reset();
        if (substituted)
            m_substituted.store(true, std::memory_order_release);
    }
    m_damaged.store(true, std::memory_order_release);
    return true;
}

bool StoredImageText::isSettledAt(const Place& where) const
{
    std::lock_guard lock(m_mutex);
    return samePlace(m_place, where) && where.file && where.file->holdsLayout(where.layout);
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
        markChecked(where, where.file->settledStamp());
}

bool StoredImageText::isChecked() const
{
    return isCheckedAt(place());
}

void StoredImageText::check(const std::atomic<bool>* cancelled) const
{
    if (contentHash.isEmpty())
        return;
    // Again while a save moves the text or another program writes into the file meanwhile.
    for (int attempt = 0; attempt < kReadAttempts && !isDamaged(); ++attempt) {
        if (cancelled && cancelled->load(std::memory_order_relaxed))
            return;
        const auto settled = settledPlace();
        if (!settled)
            return; // the file cannot be read again now: checked when next asked
        const Place where = *settled;
        if (!where.file || isCheckedAt(where) || isDamaged())
            return;
        // Taken before reading: a write into the file while it is read leaves a stamp that
        // differs, and the next read checks again.
        const HistoryFileVersion::Stamp stamp = where.file->settledStamp();
        // Slices of whole groups of four letters: three megabytes of text, 2.25 of image.
        constexpr qint64 slice = 3 * 1024 * 1024;
        QByteArray text;
        QCryptographicHash hash(QCryptographicHash::Sha256);
        qint64 decoded = 0;
        bool readWhole = true;
        for (qint64 from = 0; from < where.length; from += slice) {
            if (cancelled && cancelled->load(std::memory_order_relaxed))
                return;
            const qint64 size = std::min(slice, where.length - from);
            text.resize(size);
            QString reason;
            bool endedEarly = false;
            if (!where.file->read(where.offset + from, text.data(), size, &reason, &endedEarly)) {
                // As for a read that hands the image out: only a file cut short is damage, and
                // a failed read of a file as the place knows it is tried again when next asked.
                if (endedEarly ? markDamagedAt(where, reason) : isSettledAt(where))
                    return;
                readWhole = false;
                break;
            }
            const std::string_view letters(text.constData(), static_cast<size_t>(size));
            const bool last = from + size == where.length;
            auto bytes = Base64Text::isValid(letters) && (last || !letters.ends_with('='))
                             ? Base64::decode(letters)
                             : std::nullopt;
            if (!bytes) {
                if (markDamagedAt(where, damagedText()))
                    return;
                readWhole = false;
                break;
            }
            decoded += bytes->size();
            hash.addData(*bytes);
        }
        if (!readWhole)
            continue;
        if (decoded != byteCount) {
            markDamagedAt(where, damagedText());
        } else if (QString::fromLatin1(hash.result().toHex()) != contentHash) {
            markDamagedAt(where, substitutedText(), true);
        } else {
            markChecked(where, stamp);
        }
        // A save moved the text, or another program wrote into the file, while it was read:
        // its place as it is now is checked in turn.
    }
}

void StoredImageText::checkEnd() const
{
    const auto settled = settledPlace();
    if (!settled || !settled->file || isDamaged())
        return;
    const Place where = *settled;
    char quote = 0;
    QString reason;
    bool endedEarly = false;
    if (!where.file->read(where.offset + where.length, &quote, 1, &reason, &endedEarly)) {
        // A read that failed tells nothing of the text: the copy meets the error again, if any.
        if (endedEarly)
            markDamagedAt(where, reason);
    } else if (quote != '"')
        markDamagedAt(where, damagedText());
}

std::optional<QByteArray> StoredImageText::recentCopy() const
{
    if (!place().file)
        return std::nullopt;
    return RecentImages::shared().find(this);
}

std::optional<QByteArray> StoredImageText::load(QString* error) const
{
    auto failed = [error](const QString& reason) -> std::optional<QByteArray> {
        if (error)
            *error = unreadableImageText(reason);
        return std::nullopt;
    };
    if (!place().file)
        return failed(QString());
    if (auto cached = RecentImages::shared().find(this))
        return cached;
    QString reason;
    // Again when another program wrote into the file while it was read: what was read then may
    // be neither the old text nor the new.
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const auto settled = settledPlace(&reason);
        if (!settled)
            return failed(reason);
        const Place where = *settled;
        if (isDamaged())
            return failed(damage());
        // Before reading: a write into the file meanwhile leaves a stamp that no longer matches.
        const HistoryFileVersion::Stamp stamp = where.file->settledStamp();
        QByteArray text(where.length, Qt::Uninitialized);
        bool endedEarly = false;
        if (!where.file->read(where.offset, text.data(), where.length, &reason, &endedEarly)) {
            // Cut short: the entry cannot be shown, copied or saved any more. A read that failed
            // (EIO, ENOMEM…) may pass: the entry stays, and is read again when next asked.
            if (endedEarly ? markDamagedAt(where, reason) : isSettledAt(where))
                return failed(reason);
            continue;
        }
        auto bytes = Base64::decode(std::string_view(text.constData(), static_cast<size_t>(text.size())));
        if (!bytes || bytes->size() != byteCount) {
            if (markDamagedAt(where, damagedText()))
                return failed(damage());
            continue;
        }
        // Valid letters in the image's place may still be another picture: only its identity
        // tells, and nothing leaves here unchecked. Once checked, and while the file keeps its
        // stamp, a read does not hash the image again.
        if (!contentHash.isEmpty() && !isCheckedAt(where)) {
            if (ClipHashing::imageContentHash(*bytes) != contentHash) {
                if (markDamagedAt(where, substitutedText(), true))
                    return failed(substitutedText());
                continue;
            }
            markChecked(where, stamp);
        }
        RecentImages::shared().insert(weak_from_this(), *bytes);
        return bytes;
    }
    return failed(historyFileChangingText());
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

QString historyFileChangingText()
{
    return Language::text(QStringLiteral("另一个程序仍在改写历史文件"),
                          QStringLiteral("another program keeps writing into the history file"));
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
