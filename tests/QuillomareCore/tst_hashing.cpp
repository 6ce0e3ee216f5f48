#include <QuillomareCore/Hashing.h>

#include "TestSupport.h"

using namespace QuillomareCore;
using namespace QuillomareTest;
using namespace Qt::StringLiterals;

// Digests below were computed independently (sha256sum) so that the shared format is pinned,
// not merely whatever this build happens to compute: other devices must produce the same strings.
namespace {
const QString kEmptyDigest = u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s;
const QString kAbcDigest = u"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"_s;
const QString kTextPrefixDigest = u"1658fae457c16fc18f3f2d8e1c2a5b3e06ec32cf5d72e42e1d894f86cd996221"_s;  // "text:"
const QString kTextAbcDigest = u"4ca8ae4f353a7a779caa4e3f1e0b0c86d1c79fda8d9ef05999e6f7dc071e76d7"_s;     // "text:abc"
const QString kFilesPrefixDigest = u"feddc7175d8debd8c85c8bbac2da7e63f694ff9e937ee0245602948553c7102a"_s; // "files:"
const QString kFilesAbDigest = u"3228de87bce260d9472fc8aaa151bbcbf55df1aa1502006a7ab870ea8492e5ae"_s;    // "files:/a\n/b"
} // namespace

class HashingTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void plainAndImageDigestsHaveNoPrefix();
    void textHashCoversPrefixAndTrimmedText();
    void textHashTrimming_data();
    void textHashTrimming();
    void fileHashes();
};

void HashingTest::plainAndImageDigestsHaveNoPrefix()
{
    QCOMPARE(ClipHashing::sha256(QString()), kEmptyDigest);
    QCOMPARE(ClipHashing::sha256(u"abc"_s), kAbcDigest);
    QCOMPARE(ClipHashing::sha256(QByteArray("abc")), kAbcDigest);
    QCOMPARE(ClipHashing::imageContentHash(QByteArray()), kEmptyDigest);
    QCOMPARE(ClipHashing::imageContentHash("abc"), kAbcDigest);
    // The plain digest does not trim; image bytes are hashed as they are, embedded zero bytes included.
    QVERIFY(ClipHashing::sha256(u" abc"_s) != kAbcDigest);
    const QByteArray withZeros("\x89PNG\0\0\0\rIHDR", 12);
    QCOMPARE(ClipHashing::imageContentHash(withZeros), ClipHashing::sha256(withZeros));
    QVERIFY(ClipHashing::imageContentHash(withZeros) != ClipHashing::imageContentHash(withZeros.left(4)));
}

void HashingTest::textHashCoversPrefixAndTrimmedText()
{
    QCOMPARE(ClipHashing::textContentHash(QString()), kTextPrefixDigest);
    QCOMPARE(ClipHashing::textContentHash(u" \t\n\u3000"_s), kTextPrefixDigest);
    QCOMPARE(ClipHashing::textContentHash(u"abc"_s), kTextAbcDigest);
    QCOMPARE(ClipHashing::textContentHash(u"\n  abc\u00A0\r\n"_s), kTextAbcDigest);
    // Non-ASCII text is hashed as UTF-8.
    QCOMPARE(ClipHashing::textContentHash(u"剪贴板 😀"_s), ClipHashing::sha256(u"text:剪贴板 😀"_s.toUtf8()));
    QCOMPARE(ClipHashing::normalizedText(u"\u2028 a b \u0085"_s), u"a b"_s);
}

void HashingTest::textHashTrimming_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");

    QTest::newRow("leading and trailing blanks") << u"  hello"_s << u"hello \n"_s << true;
    QTest::newRow("Unicode blanks at the ends") << u"\u3000hello\u00A0"_s << u"\u2029hello\u0085"_s << true;
    QTest::newRow("inner blank") << u"a b"_s << u"ab"_s << false;
    QTest::newRow("inner line break") << u"a\nb"_s << u"a b"_s << false;
    QTest::newRow("letter case") << u"Hello"_s << u"hello"_s << false;
    QTest::newRow("zero-width space is content") << u"hello\u200B"_s << u"hello"_s << false;
}

void HashingTest::textHashTrimming()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(ClipHashing::textContentHash(a) == ClipHashing::textContentHash(b), same);
}

void HashingTest::fileHashes()
{
    QCOMPARE(ClipHashing::fileContentHash({}), kFilesPrefixDigest);
    QCOMPARE(ClipHashing::fileContentHash({u"/a"_s, u"/b"_s}), kFilesAbDigest);

    // Order matters and paths are taken exactly as given.
    QVERIFY(ClipHashing::fileContentHash({u"/b"_s, u"/a"_s}) != kFilesAbDigest);
    QVERIFY(ClipHashing::fileContentHash({u"/a"_s, u"/b "_s}) != kFilesAbDigest);
    QVERIFY(ClipHashing::fileContentHash({u" /a"_s, u"/b"_s}) != kFilesAbDigest);
    QCOMPARE(ClipHashing::fileContentHash({u"/home/用户/文件.txt"_s}),
             ClipHashing::sha256(u"files:/home/用户/文件.txt"_s.toUtf8()));

    // The same characters as a text and as a path are different content.
    QVERIFY(ClipHashing::fileContentHash({u"abc"_s}) != ClipHashing::textContentHash(u"abc"_s));
}

QUILLOMARE_TEST_MAIN(HashingTest)
#include "tst_hashing.moc"
