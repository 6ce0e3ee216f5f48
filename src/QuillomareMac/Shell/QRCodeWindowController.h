#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QWidget;

namespace QuillomareMac {

// A small window showing one text as a QR code, so that a phone camera can carry the text over.
// At most one is open: presenting a new text closes the window that is showing. A text too long
// for a QR code still opens the window, with an empty white square.
class QRCodeWindowController : public QObject
{
    Q_OBJECT

public:
    // Sizes of the layout, in device-independent pixels.
    static constexpr int windowWidth = 320;
    static constexpr int windowHeight = 396;
    static constexpr int squareSide = 256;
    static constexpr int codeSide = 232;

    ~QRCodeWindowController() override;

    // Closes the open QR window, if any, then opens a new one for `text` (which the caller has
    // checked is not empty), centred on the screen, key and in front. The controller lives until
    // its window closes.
    static QRCodeWindowController* present(const QString& text);
    // The controller whose window is showing, or null.
    static QRCodeWindowController* current();

    // Children by object name: "qrCaption", "qrCode" (its pixmap is null when the text does not
    // fit a QR code), "qrText".
    QWidget* window() const;

private:
    QRCodeWindowController();
    void load(const QString& text);
    void windowWillClose();

    std::unique_ptr<QWidget> m_window;
};

} // namespace QuillomareMac
