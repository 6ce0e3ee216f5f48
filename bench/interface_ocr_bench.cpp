// How well text recognition reads screenshots of real interfaces: settings panels, menus, chat
// bubbles, code with Chinese comments, paragraphs, a 1080p desktop, short labels and panels of Qt
// widgets, in Simplified and Traditional Chinese, English and a mix, in the five common CJK font
// families, 12–48 px, in every look a copied picture comes in (dark mode, coloured and gradient
// backgrounds, low contrast, a busy photo, JPEG, HiDPI, no antialiasing, a slight rotation, a 75 %
// downscale, a tight crop), and textures that must answer no text.
//
// The recognizer compares glyphs with the fonts fontconfig finds, so the pictures are drawn in
// this process (with every font) and read by other processes of this program (the case below
// named "reader"), which see either every font or, through FONTCONFIG_FILE, only Noto and DejaVu:
// the fonts loaded for drawing must not help the reading. Several readers share the pictures.
//
// Environment:
//   QUILLOMARE_OCR_PICTURES=<regex>   read only the pictures whose name matches, e.g.
//                                     "traditional / settings", "/ dark mode /", "^texture"
//                                     (names: "<script> / <layout> / <look> / <font> / <size> px #<n>")
//   QUILLOMARE_OCR_READERS=<n>        reader processes (default: half the processors, at most 6)
//   QUILLOMARE_OCR_KEEP=<folder>      keep the pictures there (NNNN.png), what each shows (drawn.txt), the
//                                     report of each font set (report-all-fonts.txt, report-noto-alone.txt)
//                                     and each picture's score, drawing and reading (pictures-*.tsv, to
//                                     compare two runs with)
//   QUILLOMARE_OCR_WORST=<n>          how many of the worst pictures to list (default 25)
// The font set is the case's argument: --benchmark_filter='interface screenshots/noto_alone:1' reads
// with Noto alone only. Every run draws the same pictures: the seeds are fixed, and a picture's
// seed and name do not depend on the filter.

#include <Platform/TextRecognizerTesseract.h>
#include <QuillomareMac/Pasteboard/ImageTextRecognizer.h>
#include <RecognitionPictures.h>
#include <RecognitionScores.h>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QPushButton>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sys/resource.h>

namespace {

using RecognitionScores::withoutBlanks;

// --- What is drawn

enum class Script
{
    simplified,
    traditional,
    english,
    mixed
};

QString scriptName(Script script)
{
    switch (script) {
    case Script::simplified:
        return QStringLiteral("simplified");
    case Script::traditional:
        return QStringLiteral("traditional");
    case Script::english:
        return QStringLiteral("English");
    case Script::mixed:
        return QStringLiteral("mixed");
    }
    return {};
}

// A piece of text and the script whose font family draws it (English in the Simplified family's
// Latin letters, as a Chinese desktop does).
struct Text
{
    QString text;
    Script script;
};

Text s(const char* text)
{
    return {QString::fromUtf8(text), Script::simplified};
}
Text t(const char* text)
{
    return {QString::fromUtf8(text), Script::traditional};
}
Text e(const char* text)
{
    return {QString::fromUtf8(text), Script::english};
}

struct Row
{
    Text label;
    Text value;
};

struct Vocabulary
{
    Text settingsTitle;
    QList<Row> settings;
    QList<Text> menu;
    QList<Text> chat;
    QList<std::pair<QString, Text>> code; // code, comment
    QList<Text> paragraphs;
    QList<Text> labels;
    QList<Text> window; // window titles
};

const Vocabulary& simplifiedWords()
{
    static const Vocabulary words{
        s("系统设置"),
        {{s("网络连接"), s("已连接")},     {s("自动备份"), s("每天一次")}, {s("消息通知"), s("开启")},
         {s("界面语言"), s("简体中文")},   {s("默认浏览器"), e("Chrome")}, {s("存储空间"), s("剩余 48 GB")},
         {s("蓝牙"), s("已关闭")},         {s("屏幕亮度"), s("自动调节")}, {s("快捷键"), e("Ctrl+Alt+H")},
         {s("历史记录条数"), s("一千条")}, {s("代理服务器"), s("不使用")}, {s("账户同步"), s("已登录")},
         {s("开机自启动"), s("否")},       {s("隐私模式"), s("开启")},     {s("下载目录"), s("文档")},
         {s("声音"), s("静音")},           {s("时区"), s("北京时间")},     {s("电池"), s("省电模式")},
         {s("输入法"), s("拼音")},         {s("主题颜色"), s("浅色")}},
        {s("新建窗口"), s("打开文件"), s("保存"), s("另存为"), s("导出为图片"), s("打印"), s("撤销"), s("重做"),
         s("剪切"), s("复制"), s("粘贴"), s("删除"), s("查找"), s("设置"), s("帮助"), s("退出")},
        {s("明天早上九点在门口集合"), s("我已经把报告发到你的邮箱了"), s("收到，马上处理"),
         s("这个问题我们下午再讨论吧"), s("帮我看一下这段代码哪里出错了"), s("周末一起去看电影怎么样？"),
         s("图片里的文字能直接复制吗？"), s("刚才的链接已经过期了"), s("辛苦了，早点休息"),
         s("会议纪要我整理好了，请过目。")},
        {{QStringLiteral("int count = 0;"), s("// 计数器清零")},
         {QStringLiteral("if (items.isEmpty()) return;"), s("// 列表为空时直接返回")},
         {QStringLiteral("for (const auto& item : items) {"), s("// 逐个处理条目")},
         {QStringLiteral("    total += item.size();"), s("// 累加文件大小")},
         {QStringLiteral("QString name = user.name();"), s("// 读取用户名")},
         {QStringLiteral("save(path, data);"), s("// 保存到磁盘")},
         {QStringLiteral("config = load(\"app.json\")"), s("# 读取默认配置")},
         {QStringLiteral("timer.start(500);"), s("// 每半秒刷新一次")}},
        {s("今天下午三点开会，地点在二楼会议室，请准时参加。会议将讨论下个季度的产品计划，请各部门负责人提前准备好相关"
           "材料，"
           "并在周四之前把预算表发给我。"),
         s("剪贴板历史会保存最近复制的文字和图片。你可以用快捷键打开历史窗口，输入关键词搜索，然后按回车把选中的内容"
           "粘贴到当前程序。固定的条目不会被自动删除。"),
         s("春节期间快递可能会延误，请大家提前下单。如果包裹超过七天仍未送达，请联系客服并提供订单号码，我们会尽快为"
           "您查询物流信息。")},
        {s("显示通知"), s("设置"),     s("网络"), s("连接"), s("开关"),   s("帮助"), s("文件"),   s("编辑"),
         s("视图"),     s("窗口"),     s("账号"), s("登录"), s("退出"),   s("保存"), s("删除"),   s("复制"),
         s("粘贴"),     s("搜索"),     s("发送"), s("语音"), s("视频"),   s("图片"), s("联系人"), s("消息"),
         s("闹钟"),     s("计算器"),   s("录音"), s("相机"), s("电话"),   s("邮件"), s("书签"),   s("历史"),
         s("下载"),     s("无线网络"), s("蓝牙"), s("隐私"), s("显示器"), s("声音"), s("电源"),   s("键盘"),
         s("鼠标"),     s("打印机"),   s("更新"), s("还原"), s("备份"),   s("关闭"), s("打开"),   s("确定"),
         s("取消"),     s("继续"),     s("返回"), s("完成"), s("文件夹")},
        {s("文件管理器"), s("剪贴板历史"), s("系统监视器")},
    };
    return words;
}

const Vocabulary& traditionalWords()
{
    static const Vocabulary words{
        t("偏好設定"),
        {{t("網路連線"), t("已連線")},     {t("自動更新"), t("開啟")},       {t("顯示通知"), t("關閉")},
         {t("介面語言"), t("繁體中文")},   {t("預設瀏覽器"), e("Firefox")},  {t("儲存空間"), t("已使用 12.5 GB")},
         {t("藍牙裝置"), t("已開啟")},     {t("螢幕亮度"), t("百分之八十")}, {t("鍵盤快速鍵"), e("Ctrl+Shift+V")},
         {t("歷史紀錄數量"), t("五百條")}, {t("網路設定"), t("預設")},       {t("同步帳號"), t("未登入")},
         {t("開機時啟動"), t("是")},       {t("隱私權模式"), t("關閉")},     {t("檔案下載位置"), t("桌面")},
         {t("聲音與震動"), t("靜音")},     {t("時區"), t("臺北標準時間")},   {t("電池用量"), t("節能模式")},
         {t("輸入法"), t("注音")},         {t("佈景主題"), t("深色")}},
        {t("開啟檔案"), t("最近使用的檔案"), t("儲存"), t("另存新檔"), t("匯出歷史紀錄"), t("列印"), t("複製"),
         t("貼上"), t("刪除"), t("全選"), t("尋找與取代"), t("偏好設定"), t("關於本程式"), t("檢查更新"), t("說明文件"),
         t("結束")},
        {t("你今天會來開會嗎？"), t("會議改到下午三點了，記得帶筆電。"), t("檔案已經傳給你了，請查收。"),
         t("好的，沒問題！"), t("這個連結打不開，能再傳一次嗎？"), t("網路連線暫時中斷"),
         t("我們週末去爬山，要一起來嗎？"), t("剛剛那張截圖的文字可以複製出來嗎？"), t("謝謝你幫忙整理這些資料。"),
         t("晚餐想吃什麼？樓下新開了一家麵館。")},
        {{QStringLiteral("int retries = 3;"), t("// 重試次數上限")},
         {QStringLiteral("if (!connected) reconnect();"), t("// 網路斷線時重新連線")},
         {QStringLiteral("for (auto& row : rows) {"), t("// 逐列顯示資料")},
         {QStringLiteral("    draw(row);"), t("// 繪製這一列")},
         {QStringLiteral("auto font = defaultFont();"), t("// 預設字體與大小")},
         {QStringLiteral("db.write(record);"), t("// 寫入資料庫")},
         {QStringLiteral("version = fetch_latest()"), t("# 從伺服器取得版本")},
         {QStringLiteral("cache.clear();"), t("// 清除暫存檔案")}},
        {t("最近複製的內容會顯示在這裡。點一下項目即可再次貼上，按住可以釘選到最上方。歷史紀錄會保存在這台電腦上，"
           "不會上傳到雲端。若要清除全部紀錄，請到設定頁面選擇清除歷史。"),
         t("這次更新改善了圖片文字辨識的準確度，並修正了數個與網路同步有關的問題。升級後第一次啟動時，程式會重新整理"
           "資料庫，可能需要幾秒鐘，請耐心等候。"),
         t("颱風預計今晚登陸，各級學校明天停課一天。請民眾減少外出，注意門窗是否關緊，並準備足夠的飲用水與手電筒，"
           "隨時留意氣象局發布的最新消息。")},
        {t("顯示通知"), t("資訊"),      t("設定"), t("國際網頁"), t("網路"),     t("連線"),   t("開關"),
         t("說明"),     t("檔案"),      t("編輯"), t("檢視"),     t("視窗"),     t("帳號"),   t("登入"),
         t("登出"),     t("儲存"),      t("刪除"), t("複製"),     t("貼上"),     t("搜尋"),   t("傳送"),
         t("語音"),     t("視訊"),      t("圖片"), t("聯絡人"),   t("通訊錄"),   t("訊息"),   t("鬧鐘"),
         t("時鐘"),     t("計算機"),    t("錄音"), t("電話"),     t("郵件"),     t("書籤"),   t("歷史"),
         t("下載"),     t("無線網路"),  t("藍牙"), t("隱私"),     t("安全性"),   t("顯示器"), t("聲音"),
         t("電源"),     t("鍵盤"),      t("滑鼠"), t("印表機"),   t("更新"),     t("還原"),   t("備份"),
         t("關閉"),     t("開啟"),      t("確認"), t("繼續"),     t("應用程式"), t("資料夾"), t("個人資料"),
         t("自動更新"), t("時間與語言")},
        {t("檔案總管"), t("剪貼簿歷史"), t("系統監視器")},
    };
    return words;
}

const Vocabulary& englishWords()
{
    static const Vocabulary words{
        e("Settings"),
        {{e("Network"), e("Connected")},
         {e("Automatic updates"), e("On")},
         {e("Show notifications"), e("Off")},
         {e("Language"), e("English (US)")},
         {e("Default browser"), e("Firefox")},
         {e("Storage"), e("12.5 GB used")},
         {e("Bluetooth"), e("Enabled")},
         {e("Brightness"), e("80%")},
         {e("Keyboard shortcut"), e("Ctrl+Shift+V")},
         {e("History size"), e("500 items")},
         {e("Proxy"), e("None")},
         {e("Account sync"), e("Signed out")},
         {e("Start at login"), e("Yes")},
         {e("Private mode"), e("Off")},
         {e("Downloads folder"), e("Desktop")},
         {e("Sound"), e("Muted")},
         {e("Time zone"), e("Europe/Berlin")},
         {e("Battery"), e("Power saver")},
         {e("Input method"), e("US English")},
         {e("Theme"), e("Dark")}},
        {e("New Window"), e("Open File..."), e("Save"), e("Save As..."), e("Export as Image"), e("Print..."), e("Undo"),
         e("Redo"), e("Cut"), e("Copy"), e("Paste"), e("Delete"), e("Find"), e("Preferences"), e("Help"), e("Quit")},
        {e("Are you joining the call at 3?"), e("I just sent you the file, check your inbox."), e("Sure, no problem!"),
         e("The link doesn't open for me."), e("Let's move the review to Friday."),
         e("Can you copy the text from that screenshot?"), e("Thanks for cleaning up the notes."),
         e("Dinner at 7? The new noodle place downstairs."), e("Running late, be there in 10 minutes."),
         e("Great work on the release!")},
        {{QStringLiteral("int width = 640;"), e("// default width in pixels")},
         {QStringLiteral("if (path.isEmpty()) return;"), e("// nothing to save")},
         {QStringLiteral("for (auto& tab : tabs) {"), e("// close every tab")},
         {QStringLiteral("    tab.close();"), e("// asks before losing edits")},
         {QStringLiteral("return total / count;"), e("// the mean, never empty")},
         {QStringLiteral("log.flush();"), e("// before the process exits")},
         {QStringLiteral("items = sorted(items)"), e("# oldest first")},
         {QStringLiteral("retry(3);"), e("// the server may be busy")}},
        {e("Recently copied items appear here. Click an item to paste it again, or press and hold to pin it to the "
           "top. The history stays on this computer and is never uploaded to any server."),
         e("This update improves text recognition in pictures and fixes several problems with syncing between "
           "devices. The first start after upgrading may take a few seconds while the database is rebuilt."),
         e("The storm is expected to make landfall tonight. Schools will be closed tomorrow; please stay indoors, "
           "keep water and a flashlight at hand and follow the weather service for updates.")},
        {e("Open"),   e("Save"),  e("Cancel"), e("Delete"), e("Copy"),  e("Paste"), e("Settings"), e("Help"),
         e("Search"), e("Send"),  e("Share"),  e("Print"),  e("Undo"),  e("Redo"),  e("Close"),    e("Back"),
         e("Next"),   e("Done"),  e("Edit"),   e("View"),   e("File"),  e("Mail"),  e("Maps"),     e("Music"),
         e("Photos"), e("Clock"), e("Notes"),  e("Wi-Fi"),  e("Sound"), e("Power")},
        {e("Files"), e("Clipboard history"), e("System Monitor")},
    };
    return words;
}

// Lines that mix English words and numbers into Chinese, as interfaces and chats do.
const QList<Text>& mixedLines()
{
    static const QList<Text> lines{
        s("打开 Wi-Fi 设置"),       t("開啟 Bluetooth 裝置"),           s("已复制 12 个项目到剪贴板"),
        t("已傳送 3 張 JPEG 圖片"), s("下载 Quillomare 2.4 版本"),      t("Windows 更新失敗，錯誤代碼 0x80070005"),
        s("请把 PDF 发到我的邮箱"), t("請用 Chrome 開啟這個網址"),      s("CPU 占用 35%，内存 2.1 GB"),
        t("USB 隨身碟已退出"),      s("会议链接 meet.example.com/abc"), t("電池剩餘 45%，約 2 小時"),
    };
    return lines;
}

// The Traditional-only characters of the vocabulary above and their Simplified forms, as OpenCC's
// t2s conversion gives them (characters it leaves alone are in both scripts and not listed).
const QHash<QChar, QChar>& simplifiedOf()
{
    static const QHash<QChar, QChar> map = [] {
        const QString traditional =
            QString::fromUtf16(u"設網連線動開啟顯關閉語體預瀏覽儲間藍裝螢鍵盤歷紀錄數條帳號機時隱權檔載聲與靜區臺"
                               u"標準電節輸佈題匯複製貼刪選尋於檢說結會來嗎議點記帶筆經傳給請沒問這個暫斷們週剛張"
                               u"圖謝幫資麼樓麵館試繪寫庫從訊國際頁編輯視聯絡鬧鐘計話郵書籤無還備確認繼續應夾總統"
                               u"監敗錯誤碼隨餘約");
        const QString simplified =
            QString::fromUtf16(u"设网连线动开启显关闭语体预浏览储间蓝装萤键盘历纪录数条帐号机时隐权档载声与静区台"
                               u"标准电节输布题汇复制贴删选寻于检说结会来吗议点记带笔经传给请没问这个暂断们周刚张"
                               u"图谢帮资么楼面馆试绘写库从讯国际页编辑视联络闹钟计话邮书签无还备确认继续应夹总统"
                               u"监败错误码随余约");
        QHash<QChar, QChar> map;
        for (qsizetype i = 0; i < std::min(traditional.size(), simplified.size()); ++i)
            map.insert(traditional[i], simplified[i]);
        return map;
    }();
    return map;
}

// --- Looks

enum class Look
{
    plain,
    darkMode,
    whiteOnColour,
    gradient,
    lowContrast,
    noisyPhoto,
    jpeg,
    hiDpi,
    noAntialiasing,
    rotated,
    downscaled,
    tightCrop
};

const QList<std::pair<Look, QString>>& looks()
{
    static const QList<std::pair<Look, QString>> all{
        {Look::plain, QStringLiteral("plain")},
        {Look::darkMode, QStringLiteral("dark mode")},
        {Look::whiteOnColour, QStringLiteral("white on colour")},
        {Look::gradient, QStringLiteral("gradient")},
        {Look::lowContrast, QStringLiteral("low contrast")},
        {Look::noisyPhoto, QStringLiteral("noisy photo")},
        {Look::jpeg, QStringLiteral("JPEG 50-70")},
        {Look::hiDpi, QStringLiteral("HiDPI 2x")},
        {Look::noAntialiasing, QStringLiteral("no antialiasing")},
        {Look::rotated, QStringLiteral("rotated 1-2 deg")},
        {Look::downscaled, QStringLiteral("downscaled 75 %")},
        {Look::tightCrop, QStringLiteral("tight crop")},
    };
    return all;
}

QString lookName(Look look)
{
    for (const auto& [each, name] : looks())
        if (each == look)
            return name;
    return {};
}

// The colours a layout draws with.
struct Theme
{
    QColor ink;       // text
    QColor secondary; // values, line numbers, comments' neighbours
    QColor surface;   // the other side's chat bubbles, title bars
    QColor accent;    // own chat bubbles, buttons
    QColor accentInk;
    QColor line; // separators
    QColor comment;
    bool dark = false;
};

// A busy, photograph-like texture: a shaded base, soft blobs of colour and grain, light or dark
// overall so that text of the other brightness stands out on it.
QImage photo(QSize size, quint32 seed, bool light)
{
    QRandomGenerator random(seed);
    QImage image(size, QImage::Format_RGB32);
    RecognitionPictures::paintPhotoShading(image, random,
                                           {light ? 150 : 15, light ? 106 : 100, 28,
                                            double(std::min(size.width(), size.height())), 0.08, 0.3, 170});
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int(random.bounded(49)) - 24;
            row[x] = qRgb(std::clamp(qRed(row[x]) + grain, 0, 255), std::clamp(qGreen(row[x]) + grain, 0, 255),
                          std::clamp(qBlue(row[x]) + grain, 0, 255));
        }
    }
    return image;
}

// Where the text of a picture stands (in its pixels) and what it says, in reading order; lines of
// one block are read in order, blocks (a desktop's columns) in any order.
using DrawnLine = RecognitionScores::PlacedLine;

// Draws a layout and keeps where its lines went. Fonts come from `family(script)`; a layout
// draws the runs of a line and then names the line with the union of their boxes.
class Canvas
{
public:
    Canvas(QPainter& painter, Theme theme, std::function<QString(Script)> family, bool antialias)
        : m_painter(painter), m_theme(theme), m_family(std::move(family)), m_antialias(antialias)
    {}

    QPainter& painter() { return m_painter; }
    const Theme& theme() const { return m_theme; }

    // The script's family, or a monospace one for Latin letters only: which family Qt falls back
    // to for the Chinese characters of a list of families depends on what it drew before, so
    // code draws its Chinese comments with the script's family itself (see mixedRun()).
    QFont font(Script script, double pixelSize, bool bold = false, bool monospace = false) const
    {
        QFont font;
        font.setFamilies({monospace ? QStringLiteral("DejaVu Sans Mono") : m_family(script)});
        font.setPixelSize(std::max(1, int(std::lround(pixelSize))));
        font.setBold(bold);
        if (!m_antialias)
            font.setStyleStrategy(QFont::NoAntialias);
        return font;
    }

    // Draws `text` with its baseline starting at `origin`; returns its box in logical coordinates.
    QRectF run(const QString& text, const QFont& font, QPointF origin, const QColor& colour)
    {
        const QFontMetricsF metrics(font);
        m_painter.setFont(font);
        m_painter.setPen(colour);
        m_painter.drawText(origin, text);
        return QRectF(origin.x(), origin.y() - metrics.ascent(), metrics.horizontalAdvance(text),
                      metrics.ascent() + metrics.descent());
    }

    // Draws `text` as an editor does: ASCII in `latin`, the rest (Chinese and its punctuation) in
    // `chinese`; returns the box of it all.
    QRectF mixedRun(const QString& text, const QFont& latin, const QFont& chinese, QPointF origin, const QColor& colour)
    {
        QRectF box;
        qsizetype start = 0;
        while (start < text.size()) {
            const bool ascii = text[start].unicode() < 0x80;
            qsizetype end = start + 1;
            while (end < text.size() && (text[end].unicode() < 0x80) == ascii)
                ++end;
            const QRectF piece = run(text.mid(start, end - start), ascii ? latin : chinese, origin, colour);
            box = box.isNull() ? piece : box.united(piece);
            origin.rx() = piece.right();
            start = end;
        }
        return box;
    }

    void line(const QString& text, const QRectF& logicalBox)
    {
        m_lines.append({text, m_painter.transform().mapRect(logicalBox), m_block});
    }

    // The lines drawn from now on form another block.
    void nextBlock() { ++m_block; }

    const QList<DrawnLine>& lines() const { return m_lines; }

private:
    QPainter& m_painter;
    Theme m_theme;
    std::function<QString(Script)> m_family;
    bool m_antialias;
    QList<DrawnLine> m_lines;
    int m_block = 0;
};

double advance(const QFont& font, const QString& text)
{
    return QFontMetricsF(font).horizontalAdvance(text);
}

// `text` broken into lines no wider than `width`: between words where it has blanks, anywhere
// between Chinese characters, but never before closing punctuation, which stays at the end of its
// line as Chinese typesetting keeps it.
QStringList wrapped(const QString& text, const QFont& font, double width)
{
    QStringList lines;
    QString current;
    qsizetype i = 0;
    while (i < text.size()) {
        // The next piece: a word with its trailing blank, or one character.
        qsizetype end = i + 1;
        if (text[i].unicode() < 0x2e80)
            while (end < text.size() && text[end].unicode() < 0x2e80 && text[end - 1] != QLatin1Char(' '))
                ++end;
        static const QString closing = QStringLiteral("，。、；：！？）」』,.;:!?)");
        const QString piece = text.mid(i, end - i);
        if (!current.isEmpty() && !closing.contains(piece.front()) &&
            advance(font, (current + piece).trimmed()) > width) {
            lines.append(current.trimmed());
            current.clear();
        }
        current += piece;
        i = end;
    }
    if (!current.trimmed().isEmpty())
        lines.append(current.trimmed());
    return lines;
}

// --- Layouts. Each draws from (0, 0) and returns its size; sizes are in logical pixels.

struct Settings
{
    Text title;
    QList<Row> rows;
};

QSizeF drawSettings(Canvas& canvas, const Settings& settings, double size, double width = 0)
{
    const double pad = std::max(12.0, size);
    const double rowHeight = std::round(size * 2.5);
    const QFont titleFont = canvas.font(settings.title.script, size * 1.25, true);
    double widest = advance(titleFont, settings.title.text);
    for (const Row& row : settings.rows)
        widest = std::max(widest, advance(canvas.font(row.label.script, size), row.label.text) +
                                      advance(canvas.font(row.value.script, size), row.value.text) + 8 * size);
    width = std::max({width, widest + 2 * pad, 22 * size});
    double y = pad + QFontMetricsF(titleFont).ascent();
    canvas.line(settings.title.text, canvas.run(settings.title.text, titleFont, {pad, y}, canvas.theme().ink));
    y += size;
    for (const Row& row : settings.rows) {
        const QFont labelFont = canvas.font(row.label.script, size);
        const QFont valueFont = canvas.font(row.value.script, size);
        const double baseline = y + (rowHeight + QFontMetricsF(labelFont).capHeight() * 1.3) / 2;
        const QRectF label = canvas.run(row.label.text, labelFont, {pad, baseline}, canvas.theme().ink);
        const double valueWidth = advance(valueFont, row.value.text);
        const QRectF value =
            canvas.run(row.value.text, valueFont, {width - pad - valueWidth, baseline}, canvas.theme().secondary);
        canvas.line(row.label.text + QLatin1Char(' ') + row.value.text, label.united(value));
        y += rowHeight;
        canvas.painter().setPen(canvas.theme().line);
        canvas.painter().drawLine(QPointF(pad, y), QPointF(width - pad, y));
    }
    return {width, y + pad};
}

QSizeF drawMenu(Canvas& canvas, const QList<Text>& items, double size, double bottomMargin)
{
    const double itemHeight = std::round(size * 1.9);
    const double pad = std::round(size * 0.9);
    double width = 0;
    for (const Text& item : items)
        width = std::max(width, advance(canvas.font(item.script, size), item.text));
    width += 2 * pad + 2 * size;
    double y = 4;
    double lastBottom = y;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QFont font = canvas.font(items[i].script, size);
        const QFontMetricsF metrics(font);
        if (i > 0 && i % 3 == 0) { // a separator between groups
            canvas.painter().setPen(canvas.theme().line);
            canvas.painter().drawLine(QPointF(pad / 2, y + size * 0.3), QPointF(width - pad / 2, y + size * 0.3));
            y += size * 0.6;
        }
        const double baseline = y + (itemHeight + metrics.capHeight() * 1.3) / 2;
        const QRectF box = canvas.run(items[i].text, font, {pad + size, baseline}, canvas.theme().ink);
        canvas.line(items[i].text, box);
        lastBottom = box.bottom();
        y += itemHeight;
    }
    // The last item's ink ends `bottomMargin` pixels above the edge, as a menu cut out of a
    // screenshot often does.
    return {width, lastBottom + bottomMargin};
}

QSizeF drawChat(Canvas& canvas, const QList<Text>& messages, double size, double width = 0)
{
    width = std::max(width, size * 24);
    const double pad = std::round(size * 0.6);
    const double maxText = width * 0.62;
    double y = size;
    QPainter& painter = canvas.painter();
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const bool mine = i % 2 == 1;
        const QFont font = canvas.font(messages[i].script, size);
        const QFontMetricsF metrics(font);
        const QStringList lines = wrapped(messages[i].text, font, maxText);
        double textWidth = 0;
        for (const QString& line : lines)
            textWidth = std::max(textWidth, advance(font, line));
        const double lineStep = std::round(size * 1.45);
        const QRectF bubble(mine ? width - size - textWidth - 2 * pad : size, y, textWidth + 2 * pad,
                            lineStep * double(lines.size()) + 2 * pad - (lineStep - metrics.height()));
        QColor fill = mine ? canvas.theme().accent : canvas.theme().surface;
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(bubble, size * 0.5, size * 0.5);
        double baseline = y + pad + metrics.ascent();
        for (const QString& line : lines) {
            canvas.line(line, canvas.run(line, font, {bubble.left() + pad, baseline},
                                         mine ? canvas.theme().accentInk : canvas.theme().ink));
            baseline += lineStep;
        }
        y = bubble.bottom() + size * 0.8;
    }
    return {width, y + size * 0.2};
}

QSizeF drawCode(Canvas& canvas, const QList<std::pair<QString, Text>>& lines, double size, bool lineNumbers,
                int firstNumber)
{
    const double step = std::round(size * 1.5);
    const double pad = size;
    double width = 0;
    double y = pad;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto& [code, comment] = lines[i];
        const QFont font = canvas.font(comment.script, size, false, true);
        const QFont chinese = canvas.font(comment.script, size);
        const double baseline = y + QFontMetricsF(font).ascent();
        double x = pad;
        QRectF box;
        QString text;
        if (lineNumbers) {
            const QString number = QString::number(firstNumber + int(i));
            const double numberWidth = advance(font, QStringLiteral("000"));
            box =
                canvas.run(number, font, {x + numberWidth - advance(font, number), baseline}, canvas.theme().secondary);
            text = number + QLatin1Char(' ');
            x += numberWidth + size * 1.5;
        }
        const QRectF codeBox = canvas.run(code, font, {x, baseline}, canvas.theme().ink);
        const QRectF commentBox =
            canvas.mixedRun(comment.text, font, chinese,
                            {codeBox.right() + advance(font, QStringLiteral(" ")), baseline}, canvas.theme().comment);
        box = box.isNull() ? codeBox.united(commentBox) : box.united(codeBox).united(commentBox);
        canvas.line(text + code + QLatin1Char(' ') + comment.text, box);
        width = std::max(width, box.right() + pad);
        y += step;
    }
    return {width, y + pad - (step - size)};
}

QSizeF drawParagraph(Canvas& canvas, const Text& text, double size, int lineCount, double width = 0)
{
    const QFont font = canvas.font(text.script, size);
    if (width <= 0)
        width = text.script == Script::english ? advance(font, QStringLiteral("x")) * 60 : size * 26;
    const QStringList lines = wrapped(text.text, font, width);
    const double step = std::round(size * 1.6);
    double y = size + QFontMetricsF(font).ascent();
    for (qsizetype i = 0; i < std::min<qsizetype>(lineCount, lines.size()); ++i) {
        canvas.line(lines[i], canvas.run(lines[i], font, {size, y}, canvas.theme().ink));
        y += step;
    }
    return {width + 2 * size, y - step + QFontMetricsF(font).descent() + size};
}

// A label cut out with `margin` times its size around it: a button's edge or more.
QSizeF drawLabel(Canvas& canvas, const Text& label, double size, bool button, double margin)
{
    const QFont font = canvas.font(label.script, size);
    const QFontMetricsF metrics(font);
    const double padX = std::round(size * std::max(margin, 0.6));
    const double padY = std::round(size * margin);
    const QSizeF box(advance(font, label.text) + 2 * padX, metrics.height() + 2 * padY);
    if (button) {
        const double inset = std::max(0.0, padY - size * 0.35);
        canvas.painter().setPen(Qt::NoPen);
        canvas.painter().setBrush(canvas.theme().accent);
        canvas.painter().drawRoundedRect(QRectF(QPointF(0, 0), box).adjusted(inset, inset, -inset, -inset), size * 0.3,
                                         size * 0.3);
    }
    canvas.line(label.text, canvas.run(label.text, font, {padX, padY + metrics.ascent()},
                                       button ? canvas.theme().accentInk : canvas.theme().ink));
    return box;
}

// A 1920×1080 desktop: a window with a sidebar menu, a settings section, a paragraph and a chat
// column, and a clock on the panel below. The lines go in the order a reader takes: the title,
// the sidebar, the main column, the chat column, the panel.
QSizeF drawDesktop(Canvas& canvas, const Vocabulary& words, const QList<Text>& extra, double size, int variant)
{
    QPainter& painter = canvas.painter();
    const Theme& theme = canvas.theme();
    QLinearGradient wallpaper(0, 0, 1920, 1080);
    wallpaper.setColorAt(0, theme.dark ? QColor(0x1b, 0x26, 0x3b) : QColor(0x5b, 0x8d, 0xc9));
    wallpaper.setColorAt(1, theme.dark ? QColor(0x3a, 0x1c, 0x47) : QColor(0xa7, 0xc9, 0x8f));
    painter.fillRect(QRectF(0, 0, 1920, 1080), wallpaper);
    const QRectF window(120, 60, 1680, 940);
    const QColor windowColour = theme.dark ? QColor(0x24, 0x25, 0x29) : QColor(0xfb, 0xfb, 0xfb);
    painter.fillRect(window, windowColour);
    const double titleHeight = std::round(size * 2.4);
    painter.fillRect(QRectF(window.topLeft(), QSizeF(window.width(), titleHeight)), theme.surface);
    const Text& title = words.window[variant % words.window.size()];
    const QFont titleFont = canvas.font(title.script, size);
    canvas.line(title.text, canvas.run(title.text, titleFont,
                                       {window.center().x() - advance(titleFont, title.text) / 2,
                                        window.top() + (titleHeight + QFontMetricsF(titleFont).capHeight()) / 2},
                                       theme.ink));
    // The sidebar: a menu.
    canvas.nextBlock();
    const double sidebarWidth = size * 14;
    painter.fillRect(QRectF(window.left(), window.top() + titleHeight, sidebarWidth, window.height() - titleHeight),
                     theme.surface);
    QList<Text> sidebar;
    for (int i = 0; i < 8; ++i)
        sidebar.append(words.menu[(variant * 3 + i) % words.menu.size()]);
    painter.save();
    painter.translate(window.left(), window.top() + titleHeight + size);
    drawMenu(canvas, sidebar, size, 0);
    painter.restore();
    // The main column: settings, then a paragraph.
    canvas.nextBlock();
    const double mainLeft = window.left() + sidebarWidth + size * 2;
    const double chatWidth = 600;
    Settings settings{words.settingsTitle, {}};
    for (int i = 0; i < 5; ++i)
        settings.rows.append(words.settings[(variant * 5 + i) % words.settings.size()]);
    painter.save();
    painter.translate(mainLeft, window.top() + titleHeight + size);
    const QSizeF settingsSize = drawSettings(canvas, settings, size, window.right() - mainLeft - chatWidth - size * 3);
    painter.restore();
    canvas.nextBlock();
    painter.save();
    painter.translate(mainLeft - size, window.top() + titleHeight + size + settingsSize.height());
    drawParagraph(canvas, words.paragraphs[variant % words.paragraphs.size()], size, 5, settingsSize.width() - size);
    painter.restore();
    // The chat column.
    canvas.nextBlock();
    QList<Text> messages;
    for (int i = 0; i < 4; ++i)
        messages.append(i == 2 && !extra.isEmpty() ? extra[variant % extra.size()]
                                                   : words.chat[(variant * 4 + i) % words.chat.size()]);
    painter.save();
    painter.translate(window.right() - chatWidth - size, window.top() + titleHeight + size);
    drawChat(canvas, messages, size, chatWidth);
    painter.restore();
    // The panel at the bottom of the screen with the clock.
    canvas.nextBlock();
    painter.fillRect(QRectF(0, 1040, 1920, 40), QColor(0x20, 0x20, 0x24, 230));
    const QFont clockFont = canvas.font(Script::english, 16);
    const QString clock = QStringLiteral("14:%1").arg(10 + variant * 7 % 50);
    canvas.line(clock, canvas.run(clock, clockFont, {1920 - 24 - advance(clockFont, clock), 1066}, Qt::white));
    return {1920, 1080};
}

// --- Pictures

struct Picture
{
    QString name;
    QString script, layout, look, font;
    int size = 0;
    QImage image;
    QList<DrawnLine> lines; // none: a texture
};

Theme themeFor(Look look, quint32 seed, bool& photoLight)
{
    static const QList<QColor> colours{QColor(0x25, 0x63, 0xeb), QColor(0x16, 0xa3, 0x4a), QColor(0x7c, 0x3a, 0xed),
                                       QColor(0xdc, 0x26, 0x26), QColor(0x0f, 0x76, 0x6e)};
    const Theme light{QColor(0x1f, 0x1f, 0x1f),
                      QColor(0x5f, 0x63, 0x68),
                      QColor(0xee, 0xf0, 0xf2),
                      QColor(0x1a, 0x73, 0xe8),
                      Qt::white,
                      QColor(0xda, 0xdc, 0xe0),
                      QColor(0x18, 0x80, 0x38),
                      false};
    const Theme dark{QColor(0xe6, 0xe6, 0xe6),
                     QColor(0xa0, 0xa4, 0xab),
                     QColor(0x2b, 0x2d, 0x31),
                     QColor(0x3b, 0x5b, 0xdb),
                     Qt::white,
                     QColor(0x3a, 0x3c, 0x42),
                     QColor(0x7f, 0xbf, 0x7f),
                     true};
    switch (look) {
    case Look::darkMode:
        return dark;
    case Look::jpeg:
        return seed % 2 ? dark : light;
    case Look::whiteOnColour: {
        const QColor colour = colours[seed % colours.size()];
        return {Qt::white, QColor(0xee, 0xee, 0xf4), colour.darker(125),       colour.darker(160),
                Qt::white, colour.lighter(140),      QColor(0xd8, 0xff, 0xd8), true};
    }
    case Look::gradient:
        return {Qt::white, QColor(0xf2, 0xf2, 0xf2),  QColor(0, 0, 0, 60),      QColor(255, 255, 255, 60),
                Qt::white, QColor(255, 255, 255, 90), QColor(0xe0, 0xff, 0xe0), true};
    case Look::lowContrast:
        return {QColor(0x82, 0x82, 0x82), QColor(0x86, 0x86, 0x86), QColor(0xbe, 0xbe, 0xbe), QColor(0xb4, 0xb4, 0xb4),
                QColor(0x78, 0x78, 0x78), QColor(0xb0, 0xb0, 0xb0), QColor(0x7a, 0x86, 0x7a), false};
    case Look::noisyPhoto: {
        photoLight = seed % 2 == 0;
        const QColor ink = photoLight ? QColor(0x10, 0x10, 0x10) : QColor(0xfa, 0xfa, 0xfa);
        const QColor veil = photoLight ? QColor(255, 255, 255, 90) : QColor(0, 0, 0, 90);
        return {ink, ink, veil, veil, ink, ink, ink, !photoLight};
    }
    default:
        return light;
    }
}

void fillBackground(QPainter& painter, const QRectF& area, Look look, quint32 seed, bool photoLight, const Theme& theme)
{
    switch (look) {
    case Look::whiteOnColour:
        painter.fillRect(area, theme.surface.lighter(125));
        break;
    case Look::gradient: {
        static const QList<std::pair<QColor, QColor>> pairs{{QColor(0x25, 0x63, 0xeb), QColor(0xf9, 0x73, 0x16)},
                                                            {QColor(0x6d, 0x28, 0xd9), QColor(0xdb, 0x27, 0x77)},
                                                            {QColor(0x0f, 0x76, 0x6e), QColor(0x1e, 0x3a, 0x8a)}};
        const auto& [from, to] = pairs[seed % pairs.size()];
        QLinearGradient gradient(area.topLeft(), seed % 2 ? area.bottomRight() : area.topRight());
        gradient.setColorAt(0, from);
        gradient.setColorAt(1, to);
        painter.fillRect(area, gradient);
        break;
    }
    case Look::lowContrast:
        painter.fillRect(area, QColor(0xc6, 0xc6, 0xc6));
        break;
    case Look::noisyPhoto:
        painter.drawImage(area, photo(area.size().toSize(), seed, photoLight));
        break;
    default:
        painter.fillRect(area, theme.dark ? QColor(0x1e, 0x1f, 0x22) : QColor(Qt::white));
        break;
    }
}

QImage throughJpeg(const QImage& image, int quality)
{
    return RecognitionPictures::Detail::throughJpeg(image, quality);
}

// Draws a layout in a look: measured first, then drawn on the look's background, then passed
// through what the look does to a picture afterwards.
Picture render(Look look, quint32 seed, const std::function<QString(Script)>& family,
               const std::function<QSizeF(Canvas&)>& layout)
{
    bool photoLight = true;
    const Theme theme = themeFor(look, seed, photoLight);
    const bool antialias = look != Look::noAntialiasing;
    QSizeF size;
    {
        QImage scratch(1, 1, QImage::Format_RGB32);
        QPainter painter(&scratch);
        Canvas canvas(painter, theme, family, antialias);
        size = layout(canvas);
    }
    const double scale = look == Look::hiDpi ? 2 : 1;
    // A rotated layout gets room to turn in.
    const double margin = look == Look::rotated ? std::ceil(0.035 * std::max(size.width(), size.height())) : 0;
    const QSize pixels(int(std::ceil((size.width() + 2 * margin) * scale)),
                       int(std::ceil((size.height() + 2 * margin) * scale)));
    QImage image(pixels, QImage::Format_RGB32);
    QList<DrawnLine> lines;
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing, antialias);
        painter.setRenderHint(QPainter::TextAntialiasing, antialias);
        fillBackground(painter, QRectF(image.rect()), look, seed, photoLight, theme);
        painter.scale(scale, scale);
        painter.translate(margin, margin);
        if (look == Look::rotated) {
            const double degrees = (1 + 0.5 * double(seed % 3)) * (seed % 2 ? -1 : 1);
            painter.translate(size.width() / 2, size.height() / 2);
            painter.rotate(degrees);
            painter.translate(-size.width() / 2, -size.height() / 2);
        }
        Canvas canvas(painter, theme, family, antialias);
        layout(canvas);
        lines = canvas.lines();
    }
    if (look == Look::jpeg)
        image = throughJpeg(image, 50 + 5 * int(seed % 5));
    if (look == Look::downscaled) {
        image = image.scaled(int(std::lround(image.width() * 0.75)), int(std::lround(image.height() * 0.75)),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (DrawnLine& line : lines)
            line.box = QRectF(line.box.topLeft() * 0.75, line.box.size() * 0.75);
    }
    if (look == Look::tightCrop && !lines.isEmpty()) {
        QRectF ink = lines.front().box;
        for (const DrawnLine& line : lines)
            ink = ink.united(line.box);
        const QRect crop = ink.toAlignedRect().adjusted(-2, -2, 2, 2).intersected(image.rect());
        image = image.copy(crop);
        for (DrawnLine& line : lines)
            line.box.translate(-crop.topLeft());
    }
    return {{}, {}, {}, lookName(look), {}, 0, image, lines};
}

// A panel of real Qt widgets (a title, check boxes, a list, a form row and a button) as Fusion
// paints them, light or dark, rendered offscreen at the given device pixel ratio.
Picture renderWidgets(const QList<Text>& texts, const std::function<QString(Script)>& family, int size, bool dark,
                      double ratio)
{
    static QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QWidget panel;
    panel.setAttribute(Qt::WA_DontShowOnScreen);
    panel.setStyle(fusion);
    QPalette palette = fusion->standardPalette();
    if (dark) {
        palette.setColor(QPalette::Window, QColor(0x2b, 0x2d, 0x31));
        palette.setColor(QPalette::WindowText, QColor(0xe6, 0xe6, 0xe6));
        palette.setColor(QPalette::Base, QColor(0x1e, 0x1f, 0x22));
        palette.setColor(QPalette::AlternateBase, QColor(0x26, 0x27, 0x2b));
        palette.setColor(QPalette::Text, QColor(0xe6, 0xe6, 0xe6));
        palette.setColor(QPalette::Button, QColor(0x3a, 0x3c, 0x42));
        palette.setColor(QPalette::ButtonText, QColor(0xe6, 0xe6, 0xe6));
        palette.setColor(QPalette::Highlight, QColor(0x3b, 0x5b, 0xdb));
        palette.setColor(QPalette::HighlightedText, Qt::white);
    }
    panel.setPalette(palette);
    panel.setAutoFillBackground(true);
    const auto fontOf = [&](const Text& text, bool bold = false) {
        QFont font;
        font.setFamilies({family(text.script)});
        font.setPixelSize(size);
        font.setBold(bold);
        return font;
    };
    auto* layout = new QVBoxLayout(&panel);
    layout->setContentsMargins(size, size, size, size);
    layout->setSpacing(size / 2);
    std::vector<std::pair<QWidget*, QString>> widgets;
    auto* title = new QLabel(texts[0].text);
    title->setFont(fontOf(texts[0], true));
    layout->addWidget(title);
    widgets.emplace_back(title, texts[0].text);
    for (int i = 1; i <= 2; ++i) {
        auto* box = new QCheckBox(texts[i].text);
        box->setFont(fontOf(texts[i]));
        box->setChecked(i == 1);
        layout->addWidget(box);
        widgets.emplace_back(box, texts[i].text);
    }
    auto* list = new QListWidget;
    list->setFont(fontOf(texts[3]));
    for (int i = 3; i <= 6; ++i) {
        auto* item = new QListWidgetItem(texts[i].text, list);
        item->setFont(fontOf(texts[i]));
    }
    list->setCurrentRow(1);
    list->setFixedHeight(int(4 * QFontMetrics(fontOf(texts[3])).height() * 1.6) + 8);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(list);
    auto* row = new QHBoxLayout;
    auto* key = new QLabel(texts[7].text);
    key->setFont(fontOf(texts[7]));
    auto* value = new QLabel(texts[8].text);
    value->setFont(fontOf(texts[8]));
    row->addWidget(key);
    row->addStretch(1);
    row->addWidget(value);
    layout->addLayout(row);
    auto* button = new QPushButton(texts[9].text);
    button->setFont(fontOf(texts[9]));
    layout->addWidget(button, 0, Qt::AlignRight);
    panel.setFixedWidth(size * 26);
    // The offscreen platform warns about size hints on every window shown; nothing to act on.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    panel.show();
    qInstallMessageHandler(previous);
    panel.adjustSize();
    layout->activate();

    QImage image((QSizeF(panel.size()) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(palette.color(QPalette::Window));
    panel.render(&image);
    image.setDevicePixelRatio(1);

    // Where each text stands: a label's or a box's text fills its height; a list row's its row.
    const auto scaled = [ratio](QRectF box) { return QRectF(box.topLeft() * ratio, box.size() * ratio); };
    QList<DrawnLine> lines;
    for (const auto& [widget, text] : widgets)
        lines.append({text, scaled(QRectF(widget->mapTo(&panel, QPoint(0, 0)), QSizeF(widget->size())))});
    for (int i = 0; i < list->count(); ++i) {
        const QRect rowBox = list->visualItemRect(list->item(i));
        lines.append({list->item(i)->text(),
                      scaled(QRectF(list->viewport()->mapTo(&panel, rowBox.topLeft()), QSizeF(rowBox.size())))});
    }
    const QRect keyBox(key->mapTo(&panel, QPoint(0, 0)), key->size());
    const QRect valueBox(value->mapTo(&panel, QPoint(0, 0)), value->size());
    lines.append({texts[7].text + QLatin1Char(' ') + texts[8].text, scaled(QRectF(keyBox.united(valueBox)))});
    lines.append({texts[9].text, scaled(QRectF(button->mapTo(&panel, QPoint(0, 0)), QSizeF(button->size())))});
    panel.hide();
    return {{}, {}, {}, {}, {}, size, image, lines};
}

// Textures a user copies that hold no text: each must answer no text. Those of the other
// recognition benchmarks and more, from a fixed seed.
QList<std::pair<QString, QImage>> textures()
{
    QList<std::pair<QString, QImage>> all = RecognitionPictures::textures();
    QRandomGenerator random(2026);
    const auto canvas = [](QSize size, QColor fill) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(fill);
        return image;
    };
    {
        QImage image = canvas({640, 400}, Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 2));
        for (int i = 0; i < 14; ++i)
            painter.drawEllipse(QPointF(40 + random.bounded(560), 40 + random.bounded(320)), 10 + random.bounded(60),
                                8 + random.bounded(40));
        all.append({QStringLiteral("outlined ellipses"), image});
    }
    {
        // Overlapping ellipses of many sizes and slants, thick and dark on grey.
        QImage image = canvas({720, 400}, QColor(0xe4, 0xe4, 0xe4));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 3));
        for (int i = 0; i < 30; ++i) {
            painter.save();
            painter.translate(random.bounded(720), random.bounded(400));
            painter.rotate(random.bounded(180));
            painter.drawEllipse(QPointF(0, 0), 20 + random.bounded(90), 10 + random.bounded(50));
            painter.restore();
        }
        all.append({QStringLiteral("overlapping ellipses"), image});
    }
    {
        QImage image = canvas({600, 600}, Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x20, 0x40, 0x80), 2));
        for (int radius = 12; radius < 300; radius += 14)
            painter.drawEllipse(QPointF(300, 300), radius, radius);
        all.append({QStringLiteral("concentric rings"), image});
    }
    {
        // Wood grain: waves of brown bent by noise.
        QImage image(QSize(640, 400), QImage::Format_RGB32);
        for (int y = 0; y < 400; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            const double bend = 6 * std::sin(y / 37.0);
            for (int x = 0; x < 640; ++x) {
                const double v = 0.5 + 0.5 * std::sin((x + bend + 3 * std::sin(y / 5.0 + x / 90.0)) / 4.5);
                const int grain = int(random.bounded(21)) - 10;
                row[x] =
                    qRgb(std::clamp(int(120 + 70 * v) + grain, 0, 255), std::clamp(int(80 + 45 * v) + grain, 0, 255),
                         std::clamp(int(40 + 25 * v) + grain, 0, 255));
            }
        }
        all.append({QStringLiteral("wood grain"), image});
    }
    {
        QImage image = canvas({640, 400}, Qt::white);
        QPainter painter(&image);
        painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1));
        for (int x = 0; x < 640; x += 32)
            painter.drawLine(x, 0, x, 400);
        for (int y = 0; y < 400; y += 32)
            painter.drawLine(0, y, 640, y);
        all.append({QStringLiteral("grid"), image});
    }
    all.append({QStringLiteral("photo, light"), photo({800, 500}, 77, true)});
    all.append({QStringLiteral("photo, dark"), photo({800, 500}, 78, false)});
    {
        QImage image = canvas({640, 400}, Qt::white);
        QPainter painter(&image);
        QLinearGradient gradient(0, 0, 640, 0);
        gradient.setColorAt(0, QColor(0x1e, 0x3a, 0x8a));
        gradient.setColorAt(0.5, QColor(0xf4, 0x3f, 0x5e));
        gradient.setColorAt(1, QColor(0xfd, 0xe0, 0x47));
        painter.fillRect(image.rect(), gradient);
        all.append({QStringLiteral("gradient"), image});
    }
    {
        QImage image = canvas({640, 400}, Qt::white);
        QPainter painter(&image);
        for (int y = 0; y < 400; y += 6)
            painter.fillRect(0, y, 640, 2, QColor(0x30, 0x30, 0x30));
        all.append({QStringLiteral("thin stripes"), image});
    }
    {
        // A row of application icons: rounded squares and circles without their names.
        QImage image = canvas({720, 160}, QColor(0xf5, 0xf5, 0xf5));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 8; ++i) {
            painter.setBrush(QColor::fromHsv(i * 45, 180, 220));
            if (i % 2)
                painter.drawEllipse(QRectF(24 + i * 86, 48, 64, 64));
            else
                painter.drawRoundedRect(QRectF(24 + i * 86, 48, 64, 64), 14, 14);
        }
        all.append({QStringLiteral("icons"), image});
    }
    {
        // A line chart without its labels.
        QImage image = canvas({640, 360}, Qt::white);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), 1));
        for (int y = 40; y < 340; y += 50)
            painter.drawLine(40, y, 620, y);
        QPainterPath path(QPointF(40, 300));
        for (int x = 40; x <= 620; x += 20)
            path.lineTo(x, 300 - 200 * (0.5 + 0.4 * std::sin(x / 50.0)) - random.bounded(30));
        painter.setPen(QPen(QColor(0x25, 0x63, 0xeb), 3));
        painter.drawPath(path);
        all.append({QStringLiteral("chart without labels"), image});
    }
    {
        QImage image = canvas({640, 400}, QColor(0x10, 0x10, 0x18));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < 40; ++i) {
            QColor colour = QColor::fromHsv(int(random.bounded(360)), 120, 255, 90);
            painter.setBrush(colour);
            const double radius = 10 + random.bounded(40);
            painter.drawEllipse(QPointF(random.bounded(640), random.bounded(400)), radius, radius);
        }
        all.append({QStringLiteral("bokeh"), image});
    }
    return all;
}

// --- The pictures of a run

const int kSizes[] = {12, 14, 16, 18, 20, 24, 28, 32, 40, 48};

struct Plan
{
    QString name;
    std::function<Picture()> draw;
};

const RecognitionPictures::CjkFont& fontAt(int index)
{
    return RecognitionPictures::cjkFonts()[index % RecognitionPictures::cjkFonts().size()];
}

std::function<QString(Script)> familiesOf(const RecognitionPictures::CjkFont& font)
{
    return [font](Script script) { return script == Script::traditional ? font.traditional : font.simplified; };
}

const Vocabulary& wordsOf(Script script)
{
    switch (script) {
    case Script::traditional:
        return traditionalWords();
    case Script::english:
        return englishWords();
    default:
        return simplifiedWords();
    }
}

// For the mixed pictures: the i-th piece from the scripts in turn, every fourth a mixed line.
template <typename Pick> Text mixedPick(int i, Pick pick)
{
    if (i % 4 == 3)
        return mixedLines()[(i / 4) % mixedLines().size()];
    static const Script order[] = {Script::traditional, Script::simplified, Script::english};
    return pick(wordsOf(order[i % 3]), i / 3);
}

QList<Plan> plans()
{
    QList<Plan> plans;
    const QList<Script> scripts{Script::simplified, Script::traditional, Script::english, Script::mixed};
    const auto add = [&plans](Script script, const QString& layout, Look look, int fontIndex, int size,
                              std::function<Picture()> draw) {
        const QString font = fontAt(fontIndex).name;
        const QString look_ = lookName(look);
        const QString name = QStringLiteral("%1 / %2 / %3 / %4 / %5 px #%6")
                                 .arg(scriptName(script), layout, look_, font)
                                 .arg(size)
                                 .arg(plans.size());
        plans.append({name, [=] {
                          Picture picture = draw();
                          picture.name = name;
                          picture.script = scriptName(script);
                          picture.layout = layout;
                          picture.look = look_;
                          picture.font = font;
                          picture.size = size;
                          return picture;
                      }});
    };

    int variant = 0;
    for (int si = 0; si < scripts.size(); ++si) {
        const Script script = scripts[si];
        const Vocabulary& words = wordsOf(script);
        const auto pick = [&](auto member, int i) {
            return [=](const Vocabulary& vocabulary, int j) {
                const auto& list = vocabulary.*member;
                return list[(i + j) % list.size()];
            };
        };
        for (int li = 0; li < looks().size(); ++li) {
            const Look look = looks()[li].first;
            const quint32 seed = quint32(1000 + variant);
            ++variant;
            // Settings panel.
            {
                const int fontIndex = si + li;
                const int size = kSizes[(li * 3 + si) % 8];
                Settings settings{words.settingsTitle, {}};
                const int count = 5 + (li % 2);
                for (int i = 0; i < count; ++i) {
                    if (script == Script::mixed) {
                        const Script from[] = {Script::traditional, Script::simplified, Script::english};
                        settings.rows.append(wordsOf(from[i % 3]).settings[(li * 3 + i) % 20]);
                        if (i % 3 == 2)
                            settings.rows.back().value = mixedLines()[(li + i) % mixedLines().size()];
                    } else {
                        settings.rows.append(words.settings[(li * 5 + i * 3 + si) % words.settings.size()]);
                    }
                }
                if (script == Script::mixed)
                    settings.title = traditionalWords().settingsTitle;
                add(script, QStringLiteral("settings"), look, fontIndex, size, [=] {
                    return render(look, seed, familiesOf(fontAt(fontIndex)),
                                  [=](Canvas& canvas) { return drawSettings(canvas, settings, size); });
                });
            }
            // Menu, its last item 0–16 px above the bottom edge.
            {
                const int fontIndex = si + li + 1;
                const int size = kSizes[(li * 5 + si + 1) % 7];
                const double bottom = QList<double>{0, 2, 4, 8, 12, 16}[(li + si) % 6];
                QList<Text> items;
                const int count = 6 + (li % 4);
                for (int i = 0; i < count; ++i)
                    items.append(script == Script::mixed ? mixedPick(li * 7 + i, pick(&Vocabulary::menu, 0))
                                                         : words.menu[(li * 4 + i) % words.menu.size()]);
                // Menus end with their last item, "quit" more often than not.
                if (li % 2 == 0 && script != Script::mixed)
                    items.back() = words.menu.back();
                add(script, QStringLiteral("menu"), look, fontIndex, size, [=] {
                    return render(look, seed, familiesOf(fontAt(fontIndex)),
                                  [=](Canvas& canvas) { return drawMenu(canvas, items, size, bottom); });
                });
            }
            // Chat bubbles.
            {
                const int fontIndex = si + li + 2;
                const int size = kSizes[(li * 7 + si + 2) % 8 + 1];
                QList<Text> messages;
                for (int i = 0; i < 4 + li % 2; ++i)
                    messages.append(script == Script::mixed ? mixedPick(li * 5 + i, pick(&Vocabulary::chat, 0))
                                                            : words.chat[(li * 3 + i) % words.chat.size()]);
                add(script, QStringLiteral("chat"), look, fontIndex, size, [=] {
                    return render(look, seed, familiesOf(fontAt(fontIndex)),
                                  [=](Canvas& canvas) { return drawChat(canvas, messages, size); });
                });
            }
            // Code with comments.
            {
                const int fontIndex = si + li + 3;
                const int size = kSizes[(li * 3 + si + 1) % 6];
                QList<std::pair<QString, Text>> lines;
                const int count = 4 + li % 3;
                for (int i = 0; i < count; ++i) {
                    const Script from =
                        script == Script::mixed ? (i % 2 ? Script::simplified : Script::traditional) : script;
                    const auto& code = wordsOf(from).code;
                    lines.append(code[(li + i) % code.size()]);
                }
                const bool numbers = li % 2 == 1;
                add(script, QStringLiteral("code"), look, fontIndex, size, [=] {
                    return render(look, seed, familiesOf(fontAt(fontIndex)),
                                  [=](Canvas& canvas) { return drawCode(canvas, lines, size, numbers, 10 + li * 7); });
                });
            }
            // A paragraph of 3–6 lines.
            {
                const int fontIndex = si + li + 4;
                const int size = kSizes[(li * 5 + si) % 9];
                const int lineCount = 3 + (li + si) % 4;
                Text text;
                if (script == Script::mixed) {
                    const Text& first = mixedLines()[li % mixedLines().size()];
                    const Text& second = (li % 2 ? traditionalWords() : simplifiedWords()).paragraphs[li % 3];
                    text = {first.text + QStringLiteral("。") + second.text,
                            li % 2 ? Script::traditional : Script::simplified};
                } else {
                    text = words.paragraphs[(li + si) % words.paragraphs.size()];
                }
                add(script, QStringLiteral("paragraph"), look, fontIndex, size, [=] {
                    return render(look, seed, familiesOf(fontAt(fontIndex)),
                                  [=](Canvas& canvas) { return drawParagraph(canvas, text, size, lineCount); });
                });
            }
        }
        // The desktop: a full screen in the looks a whole screen is copied in.
        const QList<Look> desktopLooks{Look::plain, Look::darkMode, Look::jpeg, Look::downscaled};
        for (int di = 0; di < desktopLooks.size(); ++di) {
            const Look look = desktopLooks[di];
            const int fontIndex = si * 2 + di;
            const int size = QList<int>{14, 16, 18, 20}[(di + si) % 4];
            const quint32 seed = quint32(5000 + si * 10 + di);
            const Vocabulary& base =
                script == Script::mixed ? (di % 2 ? traditionalWords() : simplifiedWords()) : words;
            const QList<Text> extra = script == Script::mixed ? mixedLines() : QList<Text>{};
            add(script, QStringLiteral("desktop"), look, fontIndex, size, [=, &base] {
                return render(look, seed, familiesOf(fontAt(fontIndex)),
                              [=, &base](Canvas& canvas) { return drawDesktop(canvas, base, extra, size, di + si); });
            });
        }
        // Qt widgets, light and dark, as they are and after what copying does to them.
        const QList<Look> widgetLooks{Look::plain, Look::darkMode,   Look::jpeg,
                                      Look::hiDpi, Look::downscaled, Look::tightCrop};
        for (int wi = 0; wi < widgetLooks.size(); ++wi) {
            const Look look = widgetLooks[wi];
            const int fontIndex = si + wi * 2;
            const int size = QList<int>{12, 13, 14, 16, 18, 20}[(wi + si * 2) % 6];
            const bool dark = look == Look::darkMode || (look != Look::plain && wi % 2 == 1);
            QList<Text> texts;
            for (int i = 0; i < 10; ++i) {
                const int k = wi * 3 + i;
                Text text;
                if (script == Script::mixed)
                    text = mixedPick(k, [](const Vocabulary& vocabulary, int j) {
                        return vocabulary.labels[(j * 5) % vocabulary.labels.size()];
                    });
                else if (i == 0)
                    text = words.settingsTitle;
                else if (i == 8)
                    text = words.settings[k % words.settings.size()].value;
                else if (i == 7)
                    text = words.settings[k % words.settings.size()].label;
                else
                    text = i >= 3 && i <= 6 ? words.menu[k % words.menu.size()] : words.labels[k % words.labels.size()];
                texts.append(text);
            }
            add(script, QStringLiteral("Qt widgets"), look, fontIndex, size, [=] {
                Picture picture =
                    renderWidgets(texts, familiesOf(fontAt(fontIndex)), size, dark, look == Look::hiDpi ? 2 : 1);
                if (look == Look::jpeg)
                    picture.image = throughJpeg(picture.image, 55 + 5 * (wi % 3));
                if (look == Look::downscaled) {
                    picture.image = picture.image.scaled(picture.image.size() * 0.75, Qt::IgnoreAspectRatio,
                                                         Qt::SmoothTransformation);
                    for (DrawnLine& line : picture.lines)
                        line.box = QRectF(line.box.topLeft() * 0.75, line.box.size() * 0.75);
                }
                if (look == Look::tightCrop) {
                    QRectF ink = picture.lines.front().box;
                    for (const DrawnLine& line : picture.lines)
                        ink = ink.united(line.box);
                    const QRect crop = ink.toAlignedRect().intersected(picture.image.rect());
                    picture.image = picture.image.copy(crop);
                    for (DrawnLine& line : picture.lines)
                        line.box.translate(-crop.topLeft());
                }
                return picture;
            });
        }
    }

    // Single short labels: the Traditional and Simplified ones of the vocabulary and English words,
    // in every font, size and look in turn, half of them as buttons.
    QList<Text> labels;
    for (int i = 0; i < 48; ++i)
        labels.append(traditionalWords().labels[(i * 7) % traditionalWords().labels.size()]);
    for (int i = 0; i < 42; ++i)
        labels.append(simplifiedWords().labels[(i * 5) % simplifiedWords().labels.size()]);
    for (int i = 0; i < 30; ++i)
        labels.append(englishWords().labels[i % englishWords().labels.size()]);
    for (int i = 0; i < labels.size(); ++i) {
        const Text label = labels[i];
        const Look look = looks()[(i * 5) % looks().size()].first;
        const int fontIndex = i + i / 5;
        const int size = kSizes[(i * 3) % 10];
        const bool button = i % 2 == 1;
        const double margin = QList<double>{0.35, 0.6, 1.0, 1.5}[(i / 2) % 4];
        const quint32 seed = quint32(9000 + i);
        add(label.script, QStringLiteral("label"), look, fontIndex, size, [=] {
            return render(look, seed, familiesOf(fontAt(fontIndex)),
                          [=](Canvas& canvas) { return drawLabel(canvas, label, size, button, margin); });
        });
    }

    for (const auto& [name, image] : textures()) {
        const QString pictureName = QStringLiteral("texture / %1 #%2").arg(name).arg(plans.size());
        plans.append({pictureName, [=] {
                          Picture picture;
                          picture.name = pictureName;
                          picture.layout = QStringLiteral("texture");
                          picture.image = image;
                          return picture;
                      }});
    }
    return plans;
}

// --- Reading in other processes

constexpr char kReaderJob[] = "QUILLOMARE_OCR_READER_JOB";

using ReadCharacter = RecognitionScores::PlacedCharacter; // centre in the picture's pixels

// What a reader process answers for the pictures of its job: "<picture file>\n" lines in, a JSON
// array of {file, characters: [[text, x, y], …]} out, with the font families it saw.
void readJob(benchmark::State& state)
{
    const QString job = QString::fromLocal8Bit(std::getenv(kReaderJob));
    QFile in(job);
    if (!in.open(QIODevice::ReadOnly)) {
        state.SkipWithError("cannot open the job file");
        return;
    }
    const QStringList files = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const Platform::TesseractTextRecognizer recognizer;
    QJsonArray pictures;
    bool failed = false;
    for (auto _ : state) {
        for (const QString& file : files) {
            const QImage image(file);
            const Platform::TextRecognizer::Result result = recognizer.recognize(image);
            if (result.failed()) {
                failed = true;
                break;
            }
            QJsonArray characters;
            // In the order the user gets them when copying the text of a picture.
            const QuillomareMac::ImageTextRecognizer::Regions regions =
                QuillomareMac::ImageTextRecognizer::sortedInReadingOrder(
                    QuillomareMac::ImageTextRecognizer::selectionRegions(result.characters));
            for (const QuillomareMac::RecognizedTextRegion& character : regions) {
                const QPointF centre = character.boundingBox.center();
                characters.append(
                    QJsonArray{character.text, centre.x() * image.width(), (1 - centre.y()) * image.height()});
            }
            pictures.append(QJsonObject{{QStringLiteral("file"), file}, {QStringLiteral("characters"), characters}});
        }
    }
    QJsonArray families;
    for (const QString& family : QFontDatabase::families())
        families.append(family);
    QFile out(job + QStringLiteral(".out"));
    if (!out.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the answers");
        return;
    }
    out.write(QJsonDocument(QJsonObject{{QStringLiteral("pictures"), pictures},
                                        {QStringLiteral("families"), families},
                                        {QStringLiteral("failed"), failed}})
                  .toJson(QJsonDocument::Compact));
}

// Registered only in a reader process, so that it stays out of the usual runs.
const bool readerRegistered = [] {
    if (!std::getenv(kReaderJob))
        return false;
    benchmark::RegisterBenchmark("TextRecognition/interface screenshots reader", readJob)->Iterations(1);
    return true;
}();

// The pictures of this run, drawn once per process and kept as PNG files for the readers.
struct Drawn
{
    std::unique_ptr<QTemporaryDir> temporary;
    QString folder;
    QList<Picture> pictures; // without their images
    QStringList files;
    double seconds = 0;
};

const Drawn& drawn()
{
    static const Drawn result = [] {
        Drawn drawn;
        QElapsedTimer timer;
        timer.start();
        const QString keep = qEnvironmentVariable("QUILLOMARE_OCR_KEEP");
        if (keep.isEmpty()) {
            drawn.temporary = std::make_unique<QTemporaryDir>();
            drawn.folder = drawn.temporary->path();
        } else {
            QDir().mkpath(keep);
            drawn.folder = QDir(keep).absolutePath();
        }
        const QRegularExpression filter(qEnvironmentVariable("QUILLOMARE_OCR_PICTURES"));
        QString manifest;
        for (const Plan& plan : plans()) {
            if (!filter.match(plan.name).hasMatch())
                continue;
            Picture picture = plan.draw();
            const QString file =
                QStringLiteral("%1/%2.png").arg(drawn.folder).arg(drawn.pictures.size(), 4, 10, QLatin1Char('0'));
            picture.image.save(file);
            manifest += QStringLiteral("%1\t%2\n").arg(QFileInfo(file).fileName(), picture.name);
            for (const DrawnLine& line : picture.lines)
                manifest += QStringLiteral("\t%1\n").arg(line.text);
            picture.image = QImage(picture.image.size(), QImage::Format_Mono); // the size is all that is needed
            drawn.pictures.append(std::move(picture));
            drawn.files.append(file);
        }
        QFile out(drawn.folder + QStringLiteral("/drawn.txt"));
        if (out.open(QIODevice::WriteOnly))
            out.write(manifest.toUtf8());
        drawn.seconds = double(timer.elapsed()) / 1000;
        return drawn;
    }();
    return result;
}

// Only Noto and DejaVu, as a desktop with just the Noto CJK fonts has them.
QString notoAloneConfig(const QString& folder)
{
    const QString path = folder + QStringLiteral("/noto-alone.conf");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
                                  "  <dir>/usr/share/fonts/opentype/noto</dir>\n"
                                  "  <dir>/usr/share/fonts/truetype/dejavu</dir>\n"
                                  "  <cachedir>/var/cache/fontconfig</cachedir>\n"
                                  "  <cachedir>%1/fontconfig</cachedir>\n</fontconfig>\n")
                       .arg(folder)
                       .toUtf8());
    }
    return path;
}

struct Answers
{
    std::map<QString, QList<ReadCharacter>> byFile;
    QStringList families;
    QString error;
};

Answers readAll(const Drawn& drawn, bool notoAlone)
{
    Answers answers;
    int readers = qEnvironmentVariableIntValue("QUILLOMARE_OCR_READERS");
    if (readers <= 0)
        readers = std::clamp(QThread::idealThreadCount() / 2, 1, 6);
    readers = std::min<int>(readers, std::max<qsizetype>(1, drawn.files.size()));
    // The largest pictures first, dealt out in turn, so that the readers finish close together.
    QList<qsizetype> order;
    for (qsizetype i = 0; i < drawn.files.size(); ++i)
        order.append(i);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const QSize sa = drawn.pictures[a].image.size(), sb = drawn.pictures[b].image.size();
        return qint64(sa.width()) * sa.height() > qint64(sb.width()) * sb.height();
    });
    QList<QString> jobs(readers);
    for (qsizetype i = 0; i < order.size(); ++i)
        jobs[i % readers] += drawn.files[order[i]] + QLatin1Char('\n');

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (notoAlone)
        environment.insert(QStringLiteral("FONTCONFIG_FILE"), notoAloneConfig(drawn.folder));
    else
        environment.remove(QStringLiteral("FONTCONFIG_FILE"));
    std::vector<std::unique_ptr<QProcess>> processes;
    QStringList jobFiles;
    for (int r = 0; r < readers; ++r) {
        const QString jobFile = QStringLiteral("%1/job-%2-%3.txt").arg(drawn.folder).arg(notoAlone).arg(r);
        QFile file(jobFile);
        if (!file.open(QIODevice::WriteOnly)) {
            answers.error = QStringLiteral("cannot write ") + jobFile;
            return answers;
        }
        file.write(jobs[r].toUtf8());
        file.close();
        QFile::remove(jobFile + QStringLiteral(".out"));
        QProcessEnvironment own = environment;
        own.insert(QString::fromLatin1(kReaderJob), jobFile);
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(own);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(jobFile + QStringLiteral(".log"));
        process->start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--benchmark_filter=^TextRecognition/interface screenshots reader/")});
        processes.push_back(std::move(process));
        jobFiles.append(jobFile);
    }
    for (qsizetype r = 0; r < qsizetype(processes.size()); ++r) {
        processes[size_t(r)]->waitForFinished(-1);
        QFile out(jobFiles[r] + QStringLiteral(".out"));
        if (!out.open(QIODevice::ReadOnly)) {
            answers.error = QStringLiteral("reader %1 gave no answers, see %2.log").arg(r).arg(jobFiles[r]);
            continue;
        }
        const QJsonObject object = QJsonDocument::fromJson(out.readAll()).object();
        if (object.value(QStringLiteral("failed")).toBool())
            answers.error = QStringLiteral("text recognition could not run in reader %1").arg(r);
        answers.families.clear();
        for (const QJsonValue& family : object.value(QStringLiteral("families")).toArray())
            answers.families.append(family.toString());
        for (const QJsonValue& value : object.value(QStringLiteral("pictures")).toArray()) {
            const QJsonObject picture = value.toObject();
            QList<ReadCharacter>& characters = answers.byFile[picture.value(QStringLiteral("file")).toString()];
            for (const QJsonValue& character : picture.value(QStringLiteral("characters")).toArray()) {
                const QJsonArray fields = character.toArray();
                characters.append({fields[0].toString(), QPointF(fields[1].toDouble(), fields[2].toDouble())});
            }
        }
    }
    return answers;
}

// --- Scores

struct Tally
{
    double wrong = 0;
    double total = 0;
    double share() const { return total > 0 ? 1 - wrong / total : 1; }
};

struct Scored
{
    QString name;
    double share = 1;
    QString drawn;
    QString read;
};

struct Report
{
    std::map<QString, Tally> byScript, byLayout, byLook, byFont;
    Tally all;
    RecognitionScores::SimplifiedForms simplifiedForms;
    std::map<QString, RecognitionScores::SimplifiedForms> simplifiedFormsByFont;
    int lines = 0;
    QStringList missingLines;
    std::map<QString, std::pair<int, int>> missingByLayout; // missing, drawn
    int labels = 0;
    QStringList silentLabels;
    int textures = 0;
    QStringList texturesWithText;
    int pictures = 0;
    QList<Scored> scored;
};

Report score(const Drawn& drawn, const Answers& answers)
{
    Report report;
    for (qsizetype i = 0; i < drawn.pictures.size(); ++i) {
        const Picture& picture = drawn.pictures[i];
        const QList<ReadCharacter> characters =
            answers.byFile.count(drawn.files[i]) ? answers.byFile.at(drawn.files[i]) : QList<ReadCharacter>{};
        QString read;
        for (const ReadCharacter& character : characters)
            read += character.text;
        if (picture.lines.isEmpty()) {
            ++report.textures;
            if (!read.isEmpty())
                report.texturesWithText.append(QStringLiteral("%1: \"%2\"").arg(picture.name, read.left(40)));
            continue;
        }
        QString expected;
        for (const DrawnLine& line : picture.lines) {
            expected += line.text;
            ++report.lines;
            ++report.missingByLayout[picture.layout].second;
            if (RecognitionScores::lineMissing(line.text, RecognitionScores::readWhere(characters, line.box))) {
                report.missingLines.append(QStringLiteral("\"%1\" in %2").arg(line.text, picture.name));
                ++report.missingByLayout[picture.layout].first;
            }
        }
        expected = withoutBlanks(expected);
        read = withoutBlanks(read);
        const double total = double(expected.size());
        const bool blocks = std::any_of(picture.lines.begin(), picture.lines.end(),
                                        [](const DrawnLine& line) { return line.block > 0; });
        const double wrong = std::min(blocks ? RecognitionScores::wrongInBlocks(picture.lines, characters, &read)
                                             : double(RecognitionPictures::editDistance(read, expected)),
                                      total);
        for (Tally* tally : {&report.byScript[picture.script], &report.byLayout[picture.layout],
                             &report.byLook[picture.look], &report.byFont[picture.font], &report.all}) {
            tally->wrong += wrong;
            tally->total += total;
        }
        const RecognitionScores::SimplifiedForms forms =
            RecognitionScores::simplifiedForms(expected, read, simplifiedOf());
        for (auto* sum : {&report.simplifiedForms, &report.simplifiedFormsByFont[picture.font]}) {
            sum->traditionalOnly += forms.traditionalOnly;
            sum->answeredSimplified += forms.answeredSimplified;
        }
        if (picture.layout == QLatin1String("label")) {
            ++report.labels;
            if (read.isEmpty())
                report.silentLabels.append(picture.name);
        }
        ++report.pictures;
        report.scored.append({picture.name, 1 - wrong / total, expected, read});
    }
    std::stable_sort(report.scored.begin(), report.scored.end(),
                     [](const Scored& a, const Scored& b) { return a.share < b.share; });
    return report;
}

QString percent(double share)
{
    return QStringLiteral("%1 %").arg(100 * share, 5, 'f', 1);
}

double simplifiedShare(const RecognitionScores::SimplifiedForms& forms)
{
    return forms.traditionalOnly > 0 ? double(forms.answeredSimplified) / forms.traditionalOnly : 0;
}

double poorShare(const Report& report)
{
    const auto poor = std::count_if(report.scored.begin(), report.scored.end(),
                                    [](const Scored& scored) { return scored.share < 0.8; });
    return report.pictures > 0 ? double(poor) / report.pictures : 0;
}

QString table(const Report& report, bool notoAlone, double seconds, double cpuSeconds)
{
    const QString fontSet = notoAlone ? QStringLiteral("Noto and DejaVu alone") : QStringLiteral("all five families");
    QString text;
    QTextStream out(&text);
    const auto goal = [](bool holds) {
        return holds ? QStringLiteral("  goal holds") : QStringLiteral("  goal MISSED");
    };
    out << "\n=== Interface screenshots read with " << fontSet << ": " << report.pictures << " pictures, "
        << report.textures << " textures, read in " << QString::number(seconds, 'f', 0) << " s, "
        << QString::number(cpuSeconds, 'f', 0) << " s of the readers' processor time ===\n";
    out << "characters read right (1 - edit distance / length, blanks aside), all: " << percent(report.all.share())
        << "\n  (a desktop's blocks - title, sidebar, settings, paragraph, chat, clock - count each against what is"
           " read where it stands, in any order of blocks; a character read outside them is one more error)\n";
    const auto section = [&](const char* title, const std::map<QString, Tally>& tallies, double goalShare) {
        out << "  by " << title << ":\n";
        for (const auto& [key, tally] : tallies)
            out << "    " << key.leftJustified(22) << percent(tally.share()) << "  (" << int(tally.total)
                << " characters)" << goal(tally.share() >= goalShare) << "\n";
    };
    section("script (goal >= 95 %)", report.byScript, 0.95);
    section("layout (goal >= 90 %)", report.byLayout, 0.90);
    section("look (goal >= 90 %)", report.byLook, 0.90);
    out << "  by font:\n";
    for (const auto& [key, tally] : report.byFont)
        out << "    " << key.leftJustified(22) << percent(tally.share()) << "\n";
    out << "Traditional-only characters answered in their Simplified form: "
        << percent(simplifiedShare(report.simplifiedForms)) << " (" << report.simplifiedForms.answeredSimplified
        << " of " << report.simplifiedForms.traditionalOnly << ")"
        << goal(simplifiedShare(report.simplifiedForms) <= (notoAlone ? 0.03 : 0.02)) << "\n";
    for (const auto& [font, forms] : report.simplifiedFormsByFont)
        out << "    " << font.leftJustified(22) << percent(simplifiedShare(forms)) << " (" << forms.answeredSimplified
            << " of " << forms.traditionalOnly << ")\n";
    const double missingShare = report.lines > 0 ? double(report.missingLines.size()) / report.lines : 0;
    out << "drawn lines missing (< 30 % of a line's characters read, in order, where it stands): "
        << percent(missingShare) << " (" << report.missingLines.size() << " of " << report.lines << ")"
        << goal(missingShare < 0.01) << "\n";
    for (const auto& [layout, counts] : report.missingByLayout)
        out << "    " << layout.leftJustified(22) << counts.first << " of " << counts.second << "\n";
    for (const QString& line : report.missingLines)
        out << "    " << line << "\n";
    out << "short labels answering no text: " << report.silentLabels.size() << " of " << report.labels
        << goal(report.silentLabels.isEmpty()) << "\n";
    for (const QString& label : report.silentLabels)
        out << "    " << label << "\n";
    out << "textures answering text: " << report.texturesWithText.size() << " of " << report.textures
        << goal(report.texturesWithText.isEmpty()) << "\n";
    for (const QString& texture : report.texturesWithText)
        out << "    " << texture << "\n";
    const auto poor = std::count_if(report.scored.begin(), report.scored.end(),
                                    [](const Scored& scored) { return scored.share < 0.8; });
    out << "pictures under 80 %: " << poor << " of " << report.pictures << " (" << percent(poorShare(report)) << ")"
        << goal(poorShare(report) <= 0.01) << "\n";
    int worst =
        qEnvironmentVariableIsSet("QUILLOMARE_OCR_WORST") ? qEnvironmentVariableIntValue("QUILLOMARE_OCR_WORST") : 25;
    out << "worst pictures:\n";
    for (const Scored& scored : report.scored) {
        if (worst-- <= 0 || scored.share >= 1)
            break;
        out << "  " << percent(scored.share) << "  " << scored.name << "\n      drawn: " << scored.drawn
            << "\n      read:  " << scored.read << "\n";
    }
    return text;
}

// The reports of this run by font set (Noto alone or not), for the table of both.
std::map<bool, Report>& reports()
{
    static std::map<bool, Report> all;
    return all;
}

QString sideBySide(const Report& every, const Report& noto)
{
    QString text;
    QTextStream out(&text);
    out << "\n=== Both font sets: all five families | Noto and DejaVu alone ===\n";
    const auto row = [&](const QString& name, const QString& a, const QString& b) {
        out << "  " << name.leftJustified(40) << a.rightJustified(9) << " | " << b.rightJustified(9) << "\n";
    };
    const auto tallies = [&](const char* title, const std::map<QString, Tally>& a, const std::map<QString, Tally>& b) {
        for (const auto& [key, tally] : a)
            row(QStringLiteral("%1 %2").arg(QLatin1String(title), key), percent(tally.share()),
                b.count(key) ? percent(b.at(key).share()) : QString());
    };
    row(QStringLiteral("all characters"), percent(every.all.share()), percent(noto.all.share()));
    tallies("script", every.byScript, noto.byScript);
    tallies("layout", every.byLayout, noto.byLayout);
    tallies("look", every.byLook, noto.byLook);
    tallies("font", every.byFont, noto.byFont);
    row(QStringLiteral("Traditional-only read Simplified"), percent(simplifiedShare(every.simplifiedForms)),
        percent(simplifiedShare(noto.simplifiedForms)));
    const auto missing = [](const Report& report) {
        return percent(report.lines > 0 ? double(report.missingLines.size()) / report.lines : 0);
    };
    row(QStringLiteral("drawn lines missing"), missing(every), missing(noto));
    row(QStringLiteral("short labels answering no text"), QString::number(every.silentLabels.size()),
        QString::number(noto.silentLabels.size()));
    row(QStringLiteral("textures answering text"), QString::number(every.texturesWithText.size()),
        QString::number(noto.texturesWithText.size()));
    row(QStringLiteral("pictures under 80 %"), percent(poorShare(every)), percent(poorShare(noto)));
    return text;
}

void recognizeInterfaces(benchmark::State& state)
{
    const bool notoAlone = state.range(0) != 0;
    const Drawn& pictures = drawn();
    if (pictures.pictures.isEmpty()) {
        state.SkipWithError("no picture matches QUILLOMARE_OCR_PICTURES");
        return;
    }
    Answers answers;
    QElapsedTimer timer;
    timer.start();
    // The readers' processor time, which the benchmark's own CPU column does not see.
    const auto childSeconds = [] {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double childrenBefore = childSeconds();
    for (auto _ : state)
        answers = readAll(pictures, notoAlone);
    const double seconds = double(timer.elapsed()) / 1000;
    const double cpuSeconds = childSeconds() - childrenBefore;
    state.counters["readers_cpu_s"] = cpuSeconds;
    if (!answers.error.isEmpty()) {
        state.SkipWithError(answers.error.toStdString().c_str());
        return;
    }
    // The readers must have seen the fonts of their set, no more.
    const bool othersSeen = std::any_of(answers.families.begin(), answers.families.end(), [](const QString& family) {
        return family.startsWith(QLatin1String("AR PL")) || family.startsWith(QLatin1String("WenQuanYi"));
    });
    if (othersSeen == notoAlone) {
        state.SkipWithError(notoAlone ? "the readers saw more fonts than Noto and DejaVu"
                                      : "the readers did not see every font");
        return;
    }
    const Report report = score(pictures, answers);
    const QString fontSet = notoAlone ? QStringLiteral("Noto and DejaVu alone") : QStringLiteral("all five families");
    reports()[notoAlone] = report;
    for (const auto& [prefix, tallies] : {std::pair{"", &report.byScript}, std::pair{"layout ", &report.byLayout},
                                          std::pair{"look ", &report.byLook}, std::pair{"font ", &report.byFont}})
        for (const auto& [key, tally] : *tallies)
            state.counters[prefix + key.toStdString()] = tally.share();
    state.counters["all"] = report.all.share();
    state.counters["simplified_forms"] = simplifiedShare(report.simplifiedForms);
    state.counters["missing_lines"] = report.lines > 0 ? double(report.missingLines.size()) / report.lines : 0;
    state.counters["silent_labels"] = double(report.silentLabels.size());
    state.counters["textures_with_text"] = double(report.texturesWithText.size());
    state.counters["under_80"] = double(
        std::count_if(report.scored.begin(), report.scored.end(), [](const Scored& s) { return s.share < 0.8; }));
    state.counters["pictures"] = double(report.pictures + report.textures);
    state.SetLabel(fontSet.toStdString());
    QString text =
        table(report, notoAlone, seconds, cpuSeconds) +
        QStringLiteral("(pictures drawn in %1 s; folder %2)\n").arg(pictures.seconds, 0, 'f', 1).arg(pictures.folder);
    if (reports().size() == 2)
        text += sideBySide(reports()[false], reports()[true]);
    std::fputs(text.toUtf8().constData(), stderr);
    if (!qEnvironmentVariableIsEmpty("QUILLOMARE_OCR_KEEP")) {
        // The report, and each picture's score with what was drawn and read, to compare runs with.
        const QString suffix = notoAlone ? QStringLiteral("noto-alone") : QStringLiteral("all-fonts");
        QFile file(pictures.folder + QStringLiteral("/report-%1.txt").arg(suffix));
        if (file.open(QIODevice::WriteOnly))
            file.write(text.toUtf8());
        QFile each(pictures.folder + QStringLiteral("/pictures-%1.tsv").arg(suffix));
        if (each.open(QIODevice::WriteOnly)) {
            QString rows;
            for (const Scored& scored : report.scored)
                rows += QStringLiteral("%1\t%2\t%3\t%4\n")
                            .arg(QString::number(100 * scored.share, 'f', 1), scored.name, scored.drawn, scored.read);
            each.write(rows.toUtf8());
        }
    }
}

} // namespace

BENCHMARK(recognizeInterfaces)
    ->Name("TextRecognition/interface screenshots")
    ->ArgName("noto_alone")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);
