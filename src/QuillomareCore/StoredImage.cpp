#include "StoredImage.h"

#include "Files.h"
#include "Foundation.h"
#include "Hashing.h"
#include "Language.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <cerrno>
#include <list>
#include <mutex>
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

// The identity checks of images read on the GUI thread, on a pool of their own: the global
// pool outlives the statics they use. Made after the recent images, so gone before them, and
// its destructor waits for what runs.
QThreadPool& identityChecks()
{
    RecentImages::shared();
    static QThreadPool pool;
    return pool;
}

} // namespace

void StoredImageText::finishIdentityChecks()
{
    identityChecks().waitForDone();
}

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
        previous = std::exchange(m_place, place);
        // Written there from the checked copy a read kept: the damage of the old place is not
        // true of the new one. (A copied text keeps any damage found meanwhile.)
        if (rewritten) {
            m_damage.clear();
            m_damaged.store(false, std::memory_order_release);
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

bool StoredImageText::matchesIdentity(const QByteArray& bytes) const
{
    if (contentHash.isEmpty() || ClipHashing::imageContentHash(bytes) == contentHash)
        return true;
    markDamaged(Language::text(QStringLiteral("文件中的图片已被替换"),
                               QStringLiteral("the file holds a different image in its place")));
    return false;
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
        markDamaged(Language::text(QStringLiteral("图片数据已损坏"), QStringLiteral("its data is damaged")));
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
        markDamaged(Language::text(QStringLiteral("图片数据已损坏"), QStringLiteral("its data is damaged")));
        if (error)
            *error = unreadableImageText(damage());
        return std::nullopt;
    }
    // Valid letters in the image's place may still be another picture: only its identity tells.
    if (!contentHash.isEmpty()) {
        const QCoreApplication* application = QCoreApplication::instance();
        if (application && QThread::currentThread() == application->thread()) {
            // Kept from the recent images until the check passes: a later save must never
            // take an unchecked copy for the image. One check at a time: the reads made while
            // it runs would only hash the same image again.
            if (!m_checking.exchange(true, std::memory_order_acq_rel)) {
                identityChecks().start([self = shared_from_this(), where, checked = *bytes] {
                    if (self->matchesIdentity(checked))
                        RecentImages::shared().insert(where.file, where.offset, checked);
                    self->m_checking.store(false, std::memory_order_release);
                });
            }
            return bytes;
        }
        if (!matchesIdentity(*bytes)) {
            if (error)
                *error = unreadableImageText(damage());
            return std::nullopt;
        }
    }
    RecentImages::shared().insert(where.file, where.offset, *bytes);
    return bytes;
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
