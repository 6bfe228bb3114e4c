#pragma once

#include <QDialog>
#include <QEvent>
#include <cstdint>
#include <memory>
#include <string>

#include "core/support/Types.h"
#include "net/SingleDownloader.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace cloakline {

class TKTForm;

// The update check's dialog: one request for the server's "Update" page,
// whose answer pushes settings and counts the contact, and, when there is
// something to tell, a result view with the server's text. It may stay
// hidden, show itself or run modally while it connects. Main thread only.
class TfrmKTUpdateForm : public QDialog {
    Q_OBJECT

  public:
    // Posted to the dialog itself so that the result view appears only once
    // the downloader's completion has returned.
    static constexpr QEvent::Type kShowResultEvent = static_cast<QEvent::Type>(QEvent::User + 2);

    // The texts come from the process-wide engine, the values from the
    // process-wide settings; downloads are made with context.
    TfrmKTUpdateForm(QWidget* AOwner, const TDownloaderContext& context);
    ~TfrmKTUpdateForm() override;

    // Starts the request. With AShowModal it returns once the dialog has
    // closed; with AShowConnecting it shows the dialog while it connects;
    // ADoUpdate reports the version result; AProcess uses the compact
    // connecting view; AAutoClose makes the result view close by itself.
    void StartUpdate(bool AShowModal, bool AShowConnecting, bool ADoUpdate, bool AProcess, bool AAutoClose);
    void StartAutoClose();

    bool Updating() const { return FUpdating; }
    const std::string& Info() const { return FInfo; }
    const std::string& URL() const { return FURL; }
    std::int32_t DelaySeconds() const { return FDelaySeconds; }

    // Event handlers.
    void FormKeyUp(int key);
    void btnOKClick();
    void btnCancelClick();
    void btnOK2Click();
    void tmrTimerTimer();
    void sdDownloadDoneString(TSingleDownloader& Sender, const std::string& strResult);
    void sdDownloadError(TSingleDownloader& Sender);

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

  private:
    void BuildForm();
    void FormCreate();
    void ShowResult();
    void PostShowResult();
    void CloseForm(int result);
    void StoreAutoCheck();

    bool FUpdating = false;
    std::string FInfo;
    std::string FURL;
    TDateTime FStartTime = 0.0;
    std::int32_t FDelaySeconds = 0;
    bool FShowModal = false;
    bool FShowConnecting = false;
    bool FDoUpdate = false;
    bool FProcess = false;
    bool FAutoClose = false;
    // The full view's size, for leaving the compact one.
    QSize FFullSize;
    bool FHasLogo = false;

  public:
    // The dialog's parts, named as the language files know them.
    QWidget* pnLogo = nullptr;
    QLabel* imgLogo = nullptr;
    QWidget* pnInfo = nullptr;
    QLabel* lbInfo = nullptr;
    QLabel* lblTimer = nullptr;
    QCheckBox* cbAutoCheckUpdate = nullptr;
    QWidget* pnOkCancel = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
    QWidget* pnOK = nullptr;
    QPushButton* btnOK2 = nullptr;
    QWidget* pnProcess = nullptr;
    QLabel* lbProcess = nullptr;
    QPushButton* btnCancelProcess = nullptr;
    QTimer* tmrTimer = nullptr;
    std::unique_ptr<TSingleDownloader> sdDownload;
    TKTForm* clfrm1 = nullptr;
};

}  // namespace cloakline
