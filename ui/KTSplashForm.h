#pragma once

#include <QPoint>
#include <QSize>
#include <QWidget>

namespace cloakline {

class TspPngForm;

// Where a picture of pictureSize stands centred on a screen of screenSize:
// halves truncated toward zero, as the window's place is counted in whole pixels.
QPoint SplashPosition(QSize screenSize, QSize pictureSize);

// The splash of the start: a picture with per-pixel alpha, centred on the
// screen, that closes itself as soon as it loses activation or another window
// of the program becomes active, or at once when there is no picture to show.
// Frees itself when closed.
class TfrmKTSplashForm : public QWidget {
    Q_OBJECT

  public:
    // Reads the picture from the program's folder: "oem.splash.png" first,
    // else "res\images\splash.png".
    explicit TfrmKTSplashForm(QWidget* parent = nullptr);

    TspPngForm& PngForm() const { return *spPngForm; }

  protected:
    void changeEvent(QEvent* event) override;

  private:
    void FormCreate();
    void FormDeactivate();
    void PostClose();

    TspPngForm* spPngForm;
};

}  // namespace cloakline
