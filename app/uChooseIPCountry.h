#pragma once

#include <QDialog>
#include <QFont>
#include <QStringList>

class QFrame;
class QListWidget;
class QPushButton;

namespace cloakline {

class TFlagPictureList;
class TKTSettings;
class TProxyManager;
class QtKTMultiLang;

// "Select Fake Location": every country of the proxy lists with its flag,
// "Auto Selected" (any country) first. OK stores the choice in the proxy
// manager and the setting "TARGET_COUNTRY" and ends with the result OK;
// Cancel, closing, or OK with nothing selected keep the previous choice and
// end with Cancel.
class TfrmChooseIPCountry : public QDialog {
    Q_OBJECT

  public:
    // manager, settings and flags must outlive the dialog.
    TfrmChooseIPCountry(TProxyManager& manager,
                        TKTSettings& settings,
                        const TFlagPictureList& flags,
                        QWidget* owner = nullptr);

    void LoadList();
    // Stores the selected choice; false when nothing is selected.
    bool btnOKClick();

  private:
    void FormCreate();
    void ArrangeButtons();

    TProxyManager& FProxyManager;
    TKTSettings& FSettings;
    const TFlagPictureList& FFlags;

    QFrame* pnlList;
    QListWidget* lvList;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QtKTMultiLang* KTMultiLang1;
};

// A country's name as the chooser shows it under its flag: broken between
// words (inside a word only when it is wider than a line) onto at most
// maxLines lines of width pixels; the last line ends in an ellipsis when
// text is left over.
QStringList WrapCaption(const QString& text, const QFont& font, int width, int maxLines);

}  // namespace cloakline
