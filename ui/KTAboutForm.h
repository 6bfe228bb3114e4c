#pragma once

#include <QDialog>
#include <QLabel>
#include <QString>

class QPushButton;

namespace cloakline {

class TKTForm;
class QtKTMultiLang;

// A label that opens its address with the desktop's web opener when clicked;
// an empty address makes a click do nothing.
class TKTLinkLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(QString URL READ URL WRITE SetURL)

  public:
    explicit TKTLinkLabel(QWidget* parent = nullptr);

    QString URL() const { return FURL; }
    void SetURL(const QString& value) { FURL = value; }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString FURL;
};

// The about box: logo, version and owner lines, the translator's credit and
// the support, licence and privacy links. Its texts and links are set once,
// when it is created.
class TfrmKTAboutForm : public QDialog {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "TfrmKTAboutForm")

  public:
    explicit TfrmKTAboutForm(QWidget* owner = nullptr);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void FormCreate();
    void LoadLogo(const std::string& fileName);
    void ShowSetUpTexts();

    // What the set-up gave the caption, the OK button, the information and the support link.
    bool FSetUp = false;
    QString FCaption;
    QString FOKCaption;
    QString FInfo;
    QString FSupportCaption;

    QWidget* pnLogo;
    QLabel* imgLogo;
    QWidget* pnMiddle;
    QLabel* lbInfo;
    TKTLinkLabel* btnEULA;
    TKTLinkLabel* btnPrivaryPolicy;
    QWidget* pnBottom;
    TKTLinkLabel* lblSupport;
    QPushButton* btnOK;
    TKTForm* KTForm1;
    QtKTMultiLang* KTMultiLang1;
};

// What the engine is given to create the about box on first use.
QDialog* CreateKTAboutForm(QWidget* owner);

}  // namespace cloakline
