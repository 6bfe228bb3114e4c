#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace cloakline {

class IClock;
class QtKTMultiLang;

// "Verifing from server ...": a waiting window while the local information is
// asked for. It closes itself with the result OK once that has arrived, and
// with Cancel after kMaxWaitMs of waiting or when the user closes it, so that
// the start-up never waits for ever.
class TfrmTesting : public QDialog {
    Q_OBJECT

  public:
    static constexpr std::uint32_t kMaxWaitMs = 30000;
    static constexpr int kCheckIntervalMs = 250;

    // clock measures the wait and must outlive the dialog. localInfoGot: the
    // information is already there, so the dialog closes as soon as it is shown.
    TfrmTesting(IClock& clock, bool localInfoGot, QWidget* owner = nullptr);

    // The local information has arrived.
    void LocalInfoArrived();

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void FormCreate();
    void CheckWait();

    IClock& FClock;
    bool FLocalInfoGot;
    std::uint32_t FShownAt = 0;
    bool FWaiting = false;

    QLabel* lblInfo;
    QProgressBar* ggTesting;
    QPlainTextEdit* mmoLog;
    QTimer* tmrWait;
    QtKTMultiLang* KTMultiLang1;
};

}  // namespace cloakline
