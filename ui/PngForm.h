#pragma once

#include <QImage>
#include <QObject>
#include <QWidget>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace cloakline {

// The owner of a component that needs a form is something else.
class EInvalidCast : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Turns the form that owns it into a frameless, translucent window drawn from
// a picture with per-pixel alpha; the form takes the picture's size. With no
// picture the form stays an ordinary (frameless) window.
class TspPngForm : public QObject {
    Q_OBJECT
    Q_PROPERTY(int AlphaDegeri READ AlphaDegeri WRITE SetAlphaDegeri)

  public:
    // Throws EInvalidCast "Form only" when owner is not a top-level window.
    explicit TspPngForm(QObject* owner);
    ~TspPngForm() override;

    // False when the file cannot be read as a picture; the picture then stays.
    bool LoadPng(std::string_view fileName);
    const QImage& PngImage() const { return FPngImage; }
    void SetPngImage(const QImage& image);
    // 0..255 over the picture's own alpha; takes effect at the next repaint.
    int AlphaDegeri() const { return FAlphaDegeri; }
    void SetAlphaDegeri(int value) { FAlphaDegeri = value; }
    // Drops the converted picture and repaints the form.
    void DataUpdated();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void UpdateLayeredImage();

    QWidget* Fhandle;
    std::int32_t FAlphaDegeri = 255;
    QImage FPngImage;
    // The picture premultiplied for drawing; built on first use.
    QImage FBitmap;
};

}  // namespace cloakline
