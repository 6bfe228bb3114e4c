#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/framework/KTMultiLang.h"
#include "platform/linux/LinuxFileSystem.h"
#include "tests/support/TempDir.h"
#include "ui/KTForm.h"
#include "ui/QtComponentReflection.h"
#include "ui/QtMultiLang.h"

namespace cloakline::test {

QApplication& App() {
    static int argc = 1;
    static char name[] = "form_translation_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A status box with the kinds of property that Qt's own widgets do not have,
// and with the ways a component can refuse one.
class TStatusMemo : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
    Q_PROPERTY(QByteArray ShortCut READ ShortCut WRITE SetShortCut)
    Q_PROPERTY(QString Build READ Build)
    Q_PROPERTY(QString Port READ Port WRITE SetPort)
    Q_PROPERTY(QString Remote READ Remote WRITE SetRemote)

  public:
    using QWidget::QWidget;

    QStringList Lines() const { return FLines; }
    void SetLines(const QStringList& value) { FLines = value; }
    QByteArray ShortCut() const { return FShortCut; }
    void SetShortCut(const QByteArray& value) { FShortCut = value; }
    QString Build() const { return QStringLiteral("1.0.0"); }
    QString Port() const { return FPort; }
    void SetPort(const QString& value) {
        bool number = false;
        value.toUShort(&number);
        if (!number) {
            throw std::invalid_argument("not a port");
        }
        FPort = value;
    }
    // Known only while connected.
    QString Remote() const {
        if (FRemote.isEmpty()) {
            throw std::runtime_error("not connected");
        }
        return FRemote;
    }
    void SetRemote(const QString& value) { FRemote = value; }

  private:
    QStringList FLines;
    QByteArray FShortCut;
    QString FPort = QStringLiteral("8080");
    QString FRemote;
};

class TfrmSettings : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmSettings(QtKTMultiLangData* data, QWidget* parent = nullptr) : QDialog(parent) {
        setObjectName("frmSettings");
        setWindowTitle("Options");
        auto* layout = new QVBoxLayout(this);
        pcMain = Named(new QTabWidget(this), "pcMain");
        tsGeneral = Named(new QWidget, "tsGeneral");
        tsBrowser = Named(new QWidget, "tsBrowser");
        pcMain->addTab(tsGeneral, "General");
        pcMain->addTab(tsBrowser, "Browser");
        lblInfo = Named(new QLabel("Choose a location", tsGeneral), "lblInfo");
        lblInfo->setToolTip("Where the proxy is");
        lvList = Named(new QTreeWidget(tsGeneral), "lvList");
        lvList->setHeaderLabels({"Address", "Country", "City"});
        edtPort = Named(new QLineEdit("8080", tsBrowser), "edtPort");
        memStatus = Named(new TStatusMemo(this), "memStatus");
        btnOK = Named(new QPushButton("&OK", this), "btnOK");
        btnOK->setToolTip("Keep the settings");
        btnCancel = Named(new QPushButton("&Cancel", this), "btnCancel");
        layout->addWidget(pcMain);
        layout->addWidget(memStatus);
        layout->addWidget(btnOK);
        layout->addWidget(btnCancel);
        client = Named(new QtKTMultiLang(*this), "KTMultiLang1");
        client->SetLanguageData(data);
        NotifyFormLoaded(*this);
    }

    template <class T>
    static T* Named(T* object, const char* name) {
        object->setObjectName(name);
        return object;
    }

    QTabWidget* pcMain;
    QWidget* tsGeneral;
    QWidget* tsBrowser;
    QLabel* lblInfo;
    QTreeWidget* lvList;
    QLineEdit* edtPort;
    TStatusMemo* memStatus;
    QPushButton* btnOK;
    QPushButton* btnCancel;
    QtKTMultiLang* client;
};

// Stand-ins for the engine and the skin data, which the default exclusions name.
class EngineStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("ClassName", "TKTEngine")
    Q_PROPERTY(QString Title READ Title WRITE SetTitle)

  public:
    using QObject::QObject;
    QString Title() const { return FTitle; }
    void SetTitle(const QString& value) { FTitle = value; }

  private:
    QString FTitle = "Cloakline";
};

class TspSkinData : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString SkinFile READ SkinFile WRITE SetSkinFile)

  public:
    using QObject::QObject;
    QString SkinFile() const { return FSkinFile; }
    void SetSkinFile(const QString& value) { FSkinFile = value; }

  private:
    QString FSkinFile = "default.skn";
};

// A skinned button as the skinned widget set will have them.
class TspSkinButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(cloakline::test::TspSkinData* SkinData READ SkinData WRITE SetSkinData)
    Q_PROPERTY(QString SkinDataName READ SkinDataName WRITE SetSkinDataName)

  public:
    using QPushButton::QPushButton;
    TspSkinData* SkinData() const { return FSkinData; }
    void SetSkinData(TspSkinData* value) { FSkinData = value; }
    QString SkinDataName() const { return FSkinDataName; }
    void SetSkinDataName(const QString& value) { FSkinDataName = value; }

  private:
    TspSkinData* FSkinData = nullptr;
    QString FSkinDataName = "button";
};

class TfrmMain : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmMain(QtKTMultiLangData* data) {
        setObjectName("frmMain");
        setWindowTitle("Cloakline");
        engine = TfrmSettings::Named(new EngineStandIn(this), "KTEngine1");
        skin = TfrmSettings::Named(new TspSkinData(this), "spSkinData1");
        actHide = TfrmSettings::Named(new QAction("&Hide", this), "actHide");
        btnHide = TfrmSettings::Named(new QToolButton(this), "btnHide");
        btnHide->setDefaultAction(actHide);
        btnStop = TfrmSettings::Named(new QToolButton(this), "btnStop");
        btnStop->setText("S&top");
        btnSkinned = TfrmSettings::Named(new TspSkinButton("&About", this), "btnSkinned");
        edtSearch = TfrmSettings::Named(new QLineEdit("Germany", this), "edtSearch");
        Label1 = TfrmSettings::Named(new QLabel("Local", this), "Label1");
        pmTray = TfrmSettings::Named(new QMenu("Tray", this), "pmTray");
        N2 = TfrmSettings::Named(pmTray->addSeparator(), "N2");
        N2->setText("-");
        tvServers = TfrmSettings::Named(new QTableWidget(0, 2, this), "tvServers");
        tvServers->setHorizontalHeaderItem(1, new QTableWidgetItem("Load"));
        client = TfrmSettings::Named(new QtKTMultiLang(*this), "KTMultiLang1");
        client->SetLanguageData(data);
        NotifyFormLoaded(*this);
    }

    EngineStandIn* engine;
    TspSkinData* skin;
    QAction* actHide;
    QToolButton* btnHide;
    QToolButton* btnStop;
    TspSkinButton* btnSkinned;
    QLineEdit* edtSearch;
    QLabel* Label1;
    QMenu* pmTray;
    QAction* N2;
    QTableWidget* tvServers;
    QtKTMultiLang* client;
};

namespace {

std::vector<std::string> Names(const std::vector<QObject*>& objects) {
    std::vector<std::string> out;
    for (const QObject* object : objects) {
        out.push_back(object->objectName().toStdString());
    }
    return out;
}

class FormTranslationTest : public ::testing::Test {
  protected:
    FormTranslationTest() { App(); }

    // Writes lang/<name>.lan and returns its program path.
    std::string Lan(const std::string& name, const std::string& text) {
        const std::string relative = "lang/" + name + ".lan";
        Dir.WriteFile(relative, text);
        return Dir.ProgramPath(relative);
    }
    // The harvested key=value lines of one section, as the current file has them.
    std::vector<std::string> Section(const std::string& name) {
        std::vector<std::string> lines;
        bool inside = false;
        for (const std::string& line : Data->Data().CurrentData()) {
            if (!line.empty() && line.front() == '[') {
                inside = line == "[" + name + "]";
            } else if (inside && !line.empty()) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    std::vector<std::string> Keys(const std::string& section) {
        std::vector<std::string> keys;
        for (const std::string& line : Section(section)) {
            keys.push_back(TStringList::NameOf(line));
        }
        return keys;
    }
    bool HasKey(const std::string& section, const std::string& key) {
        for (const std::string& k : Keys(section)) {
            if (k == key) {
                return true;
            }
        }
        return false;
    }

    TempDir Dir;
    LinuxFileSystem Files;
    std::unique_ptr<QtKTMultiLangData> Data =
        std::make_unique<QtKTMultiLangData>(Files, CompareTextAscii, nullptr);
};

// ---------------------------------------------------------------- how Qt objects are seen

TEST_F(FormTranslationTest, AFormsComponentsAreItsOwnNamedObjectsInCreationOrder) {
    TfrmSettings form(Data.get());
    TfrmSettings::Named(new QMenu(form.btnOK), "pmCopy");
    auto* child = TfrmSettings::Named(new QDialog(&form), "frmChild");
    TfrmSettings::Named(new QLabel("inside", child), "lblChild");

    std::vector<std::string> named;
    for (const std::string& name : Names(FormComponents(form))) {
        if (!name.empty()) {
            named.push_back(name);
        }
    }

    // Tab pages live inside Qt's own parts of the tab widget; the scroll buttons
    // of its tab bar, the other dialog and what that dialog holds are not the form's.
    std::vector<std::string> sorted = named;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted,
              (std::vector<std::string>{"KTMultiLang1", "btnCancel", "btnOK", "edtPort", "lblInfo", "lvList",
                                        "memStatus", "pcMain", "pmCopy", "tsBrowser", "tsGeneral"}));
    // Each after its parent, siblings as they were given it. (Qt moves the
    // page it shows to the end of its siblings, so the pages' order is Qt's.)
    auto at = [&](const std::string& name) {
        return std::find(named.begin(), named.end(), name) - named.begin();
    };
    for (const auto& [before, after] :
         std::vector<std::pair<std::string, std::string>>{{"pcMain", "tsGeneral"},
                                                          {"tsGeneral", "lblInfo"},
                                                          {"lblInfo", "lvList"},
                                                          {"pcMain", "tsBrowser"},
                                                          {"tsBrowser", "edtPort"},
                                                          {"edtPort", "memStatus"},
                                                          {"lvList", "memStatus"},
                                                          {"memStatus", "btnOK"},
                                                          {"btnOK", "pmCopy"},
                                                          {"pmCopy", "btnCancel"},
                                                          {"btnCancel", "KTMultiLang1"}}) {
        EXPECT_LT(at(before), at(after)) << before << " before " << after;
    }
    EXPECT_EQ(at("lvList"), at("tsGeneral") + 2);
    EXPECT_EQ(at("edtPort"), at("tsBrowser") + 1);
}

TEST_F(FormTranslationTest, PropertiesCarryTheNamesAndTypesTheLanguageFilesUse) {
    TfrmSettings form(Data.get());
    auto describe = [](QObject& object) {
        std::vector<std::string> out;
        for (const TPropertyInfo& p : QtReflectedComponent(object).Properties()) {
            out.push_back(p.Name + ":" + p.TypeName + (p.Writable ? "" : " (read-only)"));
        }
        return out;
    };
    auto has = [](const std::vector<std::string>& list, const std::string& item) {
        return std::find(list.begin(), list.end(), item) != list.end();
    };

    EXPECT_EQ(QtReflectedForm(form).ClassName(), "TfrmSettings");
    EXPECT_EQ(QtReflectedComponent(*form.client).ClassName(), "TKTMultiLang");
    EXPECT_EQ(QtReflectedComponent(*form.btnOK).ClassName(), "QPushButton");

    const std::vector<std::string> formProps = describe(form);
    EXPECT_TRUE(has(formProps, "Caption:QString"));
    EXPECT_TRUE(has(formProps, "objectName:TComponentName"));
    EXPECT_FALSE(has(formProps, "windowTitle:QString"));

    const std::vector<std::string> buttonProps = describe(*form.btnOK);
    EXPECT_TRUE(has(buttonProps, "Caption:QString"));
    EXPECT_TRUE(has(buttonProps, "Hint:QString"));
    EXPECT_TRUE(has(buttonProps, "windowTitle:QString"));
    EXPECT_FALSE(has(buttonProps, "text:QString"));
    EXPECT_FALSE(has(buttonProps, "toolTip:QString"));
    EXPECT_TRUE(std::is_sorted(
        buttonProps.begin(), buttonProps.end(),
        [](const std::string& a, const std::string& b) { return CompareTextAscii(a, b) < 0; }));

    const std::vector<std::string> memoProps = describe(*form.memStatus);
    EXPECT_TRUE(has(memoProps, "Lines:TStrings"));
    EXPECT_TRUE(has(memoProps, "ShortCut:QByteArray"));
    EXPECT_TRUE(has(memoProps, "Build:QString (read-only)"));

    EXPECT_TRUE(has(describe(*form.tsBrowser), "Caption:QString"));
    EXPECT_TRUE(has(describe(*form.lvList), "Columns:TListColumns"));
    EXPECT_EQ(QtReflectedComponent(*form.lvList).ItemCount("Columns"), 3u);
}

// ---------------------------------------------------------------- translating

TEST_F(FormTranslationTest, TranslatesTheFormFromItsClassSectionOnly) {
    Data->Data().LoadCurrentFromFile(Lan("Deutsch",
                                         "[AppRes]\r\n"
                                         "AppName=Cloakline\r\n"
                                         "[TfrmSettings]\r\n"
                                         "frmSettings.Caption={APPNAME} Optionen\r\n"
                                         "frmSettings.objectName=frmHacked\r\n"
                                         "btnOK.Caption=&Ja\r\n"
                                         "btnOK.Hint=\r\n"
                                         "btnOK.objectName=btnHacked\r\n"
                                         "lvList.Columns[1].Caption=Land\r\n"
                                         "lvList.Columns[7].Caption=Nirgends\r\n"
                                         "tsBrowser.Caption=Browser (de)\r\n"
                                         "memStatus.Lines=Erste Zeile<BR>Zweite Zeile<BR>\r\n"
                                         "memStatus.ShortCut=Strg+\xC3\x9C\r\n"
                                         "KTMultiLang1.objectName=Hacked\r\n"
                                         "lblNowhere.Caption=Nobody\r\n"
                                         "[TfrmTesting]\r\n"
                                         "btnCancel.Caption=Falsch\r\n"
                                         "frmSettings.Caption=Falsch\r\n"
                                         "[TfrmMain]\r\n"
                                         "tvServers.Columns[0].Caption=Server\r\n"
                                         "tvServers.Columns[1].Caption=Last\r\n"));
    // Created after the load: the client translates its form as soon as the form is complete.
    TfrmSettings form(Data.get());
    TfrmMain main(Data.get());

    EXPECT_EQ(form.windowTitle(), "Cloakline Optionen");
    EXPECT_EQ(form.btnOK->text(), "&Ja");
    EXPECT_EQ(form.btnOK->toolTip(), "");
    EXPECT_EQ(form.btnCancel->text(), "&Cancel");
    EXPECT_EQ(form.lvList->headerItem()->text(0), "Address");
    EXPECT_EQ(form.lvList->headerItem()->text(1), "Land");
    EXPECT_EQ(form.lvList->columnCount(), 3);
    EXPECT_EQ(form.pcMain->tabText(1), "Browser (de)");
    EXPECT_EQ(form.memStatus->Lines(), (QStringList{"Erste Zeile", "Zweite Zeile"}));
    // 8-bit texts hold the ANSI code page.
    EXPECT_EQ(form.memStatus->ShortCut(), QByteArray("Strg+\xDC"));
    EXPECT_EQ(form.objectName(), "frmSettings");
    EXPECT_EQ(form.btnOK->objectName(), "btnOK");
    EXPECT_EQ(form.client->objectName(), "KTMultiLang1");
    EXPECT_EQ(main.tvServers->horizontalHeaderItem(0)->text(), "Server");
    EXPECT_EQ(main.tvServers->horizontalHeaderItem(1)->text(), "Last");
    EXPECT_EQ(main.windowTitle(), "Cloakline");
}

TEST_F(FormTranslationTest, FallsBackToTheDefaultAndKeepsTextsTheNewLanguageLacks) {
    Data->Data().LoadDefaultFromFile(Lan("English", "[TfrmSettings]\r\nbtnOK.Caption=O&K (en)\r\n"));
    TfrmSettings form(Data.get());
    EXPECT_EQ(form.btnOK->text(), "O&K (en)");

    Data->Data().LoadCurrentFromFile(Lan("Deutsch", "[TfrmSettings]\r\nbtnCancel.Caption=&Abbrechen\r\n"));
    EXPECT_EQ(form.btnCancel->text(), "&Abbrechen");
    EXPECT_EQ(form.btnOK->text(), "O&K (en)");

    Data->Data().LoadCurrentFromFile(
        Lan("Francais", "[TfrmSettings]\r\nfrmSettings.Caption=R\xC3\xA9glages\r\n"));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("R\xC3\xA9glages"));
    EXPECT_EQ(form.btnCancel->text(), "&Abbrechen");
}

TEST_F(FormTranslationTest, APropertyTheComponentRefusesIsSkippedAndTheRestTranslated) {
    Data->Data().LoadCurrentFromFile(Lan("Deutsch",
                                         "[TfrmSettings]\r\n"
                                         "memStatus.Build=9.9.9\r\n"
                                         "memStatus.Caption=Status\r\n"
                                         "memStatus.Lines=Bereit<BR>\r\n"
                                         "memStatus.Port=achtzig\r\n"
                                         "memStatus.ShortCut=F1\r\n"
                                         "btnOK.Caption=&Ja\r\n"));
    TfrmSettings form(Data.get());

    EXPECT_EQ(form.memStatus->Build(), "1.0.0");
    EXPECT_EQ(form.memStatus->Port(), "8080");
    EXPECT_EQ(form.memStatus->Lines(), QStringList{"Bereit"});
    EXPECT_EQ(form.memStatus->ShortCut(), "F1");
    EXPECT_EQ(form.btnOK->text(), "&Ja");
}

TEST_F(FormTranslationTest, EveryLoadRetranslatesTheClientsInRegistrationOrder) {
    std::vector<std::string> notified;
    auto record = [&](QtKTMultiLang* sender) {
        notified.push_back(sender->parent()->objectName().toStdString() + "=" +
                           QString(qobject_cast<QWidget*>(sender->parent())->windowTitle()).toStdString());
    };
    const std::string german = Lan("Deutsch",
                                   "[Info]\r\nLanguage=Deutsch\r\n"
                                   "[TfrmMain]\r\nfrmMain.Caption=Haupt\r\n"
                                   "[TfrmSettings]\r\nfrmSettings.Caption=Optionen\r\n"
                                   "[ResString]\r\nReady=Bereit\r\n");
    const std::string english = Lan("English",
                                    "[Info]\r\nLanguage=English\r\n"
                                    "[TfrmMain]\r\nfrmMain.Caption=Main\r\n"
                                    "[TfrmSettings]\r\nfrmSettings.Caption=Settings\r\n");
    auto settings = std::make_unique<TfrmSettings>(Data.get());
    TfrmMain main(Data.get());
    QObject::connect(settings->client, &QtKTMultiLang::OnChangeLanguage, record);
    QObject::connect(main.client, &QtKTMultiLang::OnChangeLanguage, record);

    Data->Data().LoadCurrentFromFile(german);
    Data->Data().LoadCurrentFromFile(english);
    EXPECT_EQ(notified, (std::vector<std::string>{"frmSettings=Optionen", "frmMain=Haupt",
                                                  "frmSettings=Settings", "frmMain=Main"}));
    EXPECT_EQ(settings->client->Client().Language(), "English");
    EXPECT_EQ(main.client->Client().GetResString("Ready"), "Ready");

    // A closed form is no client any more; a client moved to other data leaves this one.
    notified.clear();
    settings.reset();
    QtKTMultiLangData other(Files, CompareTextAscii, nullptr);
    Data->Data().LoadCurrentFromFile(german);
    EXPECT_EQ(notified, std::vector<std::string>{"frmMain=Haupt"});
    EXPECT_EQ(main.client->Client().GetResString("Ready"), "Bereit");
    main.client->SetLanguageData(&other);
    EXPECT_TRUE(Data->Data().Clients().empty());
    Data->Data().LoadCurrentFromFile(english);
    EXPECT_EQ(notified, std::vector<std::string>{"frmMain=Haupt"});
    EXPECT_EQ(other.Data().Clients().size(), 1u);
}

TEST_F(FormTranslationTest, WithoutAutomaticApplyAFormWaitsForTheNextLoad) {
    Data->Data().LoadCurrentFromFile(Lan("Deutsch", "[TfrmSettings]\r\nbtnOK.Caption=&Ja\r\n"));
    Data->SetAutoApply(false);
    TfrmSettings form(Data.get());
    EXPECT_EQ(form.btnOK->text(), "&OK");
    EXPECT_EQ(Data->Data().Clients().size(), 1u);
    Data->Data().ApplyClients();
    EXPECT_EQ(form.btnOK->text(), "&Ja");
}

TEST_F(FormTranslationTest, AFormMayOutliveTheLanguageData) {
    TfrmSettings form(Data.get());
    Data.reset();
    EXPECT_EQ(form.client->LanguageData(), nullptr);
    EXPECT_EQ(form.client->Client().LanguageData(), nullptr);
    form.client->Client().ApplyData();
    EXPECT_EQ(form.client->Client().Language(), "");
    EXPECT_EQ(form.client->Client().GetResString("Ready"), "Ready");
}

TEST_F(FormTranslationTest, TheDataComponentPublishesItsSettings) {
    QObject& data = *Data;
    EXPECT_EQ(data.property("ExcludeProps").toStringList().size(), 26);
    EXPECT_TRUE(data.property("AutoApply").toBool());
    EXPECT_FALSE(data.property("ExcludeEmptyProp").toBool());
    EXPECT_FALSE(data.property("ExcludeNumberEndProps").toBool());
    EXPECT_FALSE(data.property("ExcludeWithAction").toBool());

    ASSERT_TRUE(data.setProperty("ExcludeProps", QStringList{".Hint"}));
    ASSERT_TRUE(data.setProperty("DefaultData", QStringList{"[Info]", "Language=English", "Version=2"}));
    ASSERT_TRUE(data.setProperty("CurrentData", QStringList{"[Info]", "Language=Deutsch"}));

    EXPECT_EQ(Data->Data().ExcludeProps(), TStringList{".Hint"});
    EXPECT_EQ(data.property("CurrentLanguage").toString(), "Deutsch");
    EXPECT_EQ(data.property("CurrentVersion").toString(), "2");
    EXPECT_FALSE(data.setProperty("CurrentLanguage", "English"));
}

// ---------------------------------------------------------------- harvesting

TEST_F(FormTranslationTest, HarvestingWritesWhatTranslationReadsBack) {
    TfrmSettings form(Data.get());
    form.memStatus->SetLines({"Line one", "Line two"});
    form.lvList->headerItem()->setText(2, "");
    form.btnOK->setText("&Save");
    form.client->Client().UpdateData();

    const std::vector<std::string> lines = Section("TfrmSettings");
    for (const char* line :
         {"frmSettings.Caption=Options", "btnOK.Caption=&Save", "btnOK.Hint=Keep the settings",
          "lvList.Columns[1].Caption=Country", "lvList.Columns[2].Caption=", "tsBrowser.Caption=Browser",
          "memStatus.Lines=Line one<BR>Line two<BR>", "memStatus.Port=8080"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
    // Never: names, read-only or unreadable properties, the default list's Text, clients.
    for (const char* key : {"frmSettings.objectName", "memStatus.Build", "memStatus.Remote", "edtPort.text",
                            "KTMultiLang1.LanguageData"}) {
        EXPECT_FALSE(HasKey("TfrmSettings", key)) << key;
    }
    for (const std::string& key : Keys("TfrmSettings")) {
        EXPECT_NE(key.rfind("KTMultiLang1.", 0), 0u) << key;
    }

    const std::string saved = Dir.ProgramPath("Harvest.lan");
    Data->Data().SaveCurrentToFile(saved);
    QtKTMultiLangData fresh(Files, CompareTextAscii, nullptr);
    fresh.Data().LoadCurrentFromFile(saved);
    TfrmSettings copy(&fresh);
    // The copy starts from other texts; the harvested file brings every one back.
    EXPECT_EQ(copy.memStatus->Lines(), (QStringList{"Line one", "Line two"}));
    EXPECT_EQ(copy.lvList->headerItem()->text(2), "");
    EXPECT_EQ(copy.btnOK->text(), "&Save");
}

TEST_F(FormTranslationTest, TheDefaultListKeepsTextsTheEngineAndTheSkinDataOut) {
    TfrmMain main(Data.get());
    main.client->Client().UpdateData();

    for (const std::string& key : Keys("TfrmMain")) {
        EXPECT_NE(key.rfind("KTEngine1.", 0), 0u) << key;
        EXPECT_NE(key.rfind("spSkinData1.", 0), 0u) << key;
        EXPECT_FALSE(SameTextAscii(key.substr(key.rfind('.')), ".Text")) << key;
        EXPECT_FALSE(SameTextAscii(key.substr(key.rfind('.')), ".SkinDataName")) << key;
    }
    EXPECT_TRUE(HasKey("TfrmMain", "frmMain.Caption"));
    EXPECT_TRUE(HasKey("TfrmMain", "btnSkinned.Caption"));
    EXPECT_TRUE(HasKey("TfrmMain", "tvServers.Columns[1].Caption"));
    EXPECT_FALSE(HasKey("TfrmMain", "edtSearch.text"));

    // Without the list, the same form gives all of them.
    Data->Data().ClearCurrentAll();
    Data->Data().SetExcludeProps({});
    main.client->Client().UpdateData();
    EXPECT_TRUE(HasKey("TfrmMain", "KTEngine1.Title"));
    EXPECT_TRUE(HasKey("TfrmMain", "spSkinData1.SkinFile"));
    EXPECT_TRUE(HasKey("TfrmMain", "edtSearch.text"));
    EXPECT_TRUE(HasKey("TfrmMain", "btnSkinned.SkinDataName"));
}

TEST_F(FormTranslationTest, EachExclusionPatternLeavesOutItsProperties) {
    struct Row {
        const char* pattern;
        std::vector<std::string> out;
        std::vector<std::string> in;
    };
    const Row rows[] = {
        {"qpushbutton:.CAPTION", {"btnOK.Caption", "btnCancel.Caption"}, {"btnOK.Hint", "lblInfo.Caption"}},
        {"QPushButton:", {"btnOK.Caption", "btnOK.Hint"}, {"lblInfo.Caption", "lblInfo.Hint"}},
        {":tstrings", {"memStatus.Lines"}, {"memStatus.ShortCut", "memStatus.Port"}},
        {"BTNOK..caption", {"btnOK.Caption"}, {"btnOK.Hint", "btnCancel.Caption"}},
        {"btnok.", {"btnOK.Caption", "btnOK.Hint"}, {"btnCancel.Caption"}},
        // Items of a collection are not tested against the patterns.
        {".caption",
         {"btnOK.Caption", "frmSettings.Caption", "tsGeneral.Caption"},
         {"btnOK.Hint", "lvList.Columns[0].Caption"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pattern);
        Data->Data().ClearCurrentAll();
        Data->Data().SetExcludeProps({row.pattern});
        TfrmSettings form(Data.get());
        form.client->Client().UpdateData();
        for (const std::string& key : row.out) {
            EXPECT_FALSE(HasKey("TfrmSettings", key)) << key;
        }
        for (const std::string& key : row.in) {
            EXPECT_TRUE(HasKey("TfrmSettings", key)) << key;
        }
    }
}

TEST_F(FormTranslationTest, NamesEndingInADigitAreLeftOutOnRequest) {
    TfrmMain main(Data.get());
    main.client->Client().UpdateData();
    EXPECT_TRUE(HasKey("TfrmMain", "Label1.Caption"));
    EXPECT_TRUE(HasKey("TfrmMain", "N2.Caption"));

    Data->Data().ClearCurrentAll();
    Data->SetExcludeNumberEndProps(true);
    main.client->Client().UpdateData();
    for (const std::string& key : Keys("TfrmMain")) {
        EXPECT_NE(key.rfind("Label1.", 0), 0u) << key;
        EXPECT_NE(key.rfind("N2.", 0), 0u) << key;
    }
    EXPECT_TRUE(HasKey("TfrmMain", "btnStop.Caption"));
}

TEST_F(FormTranslationTest, EmptyTextsAreLeftOutOnRequestAndAnEightBitDashCountsAsEmpty) {
    TfrmSettings settings(Data.get());
    TfrmMain main(Data.get());
    settings.memStatus->SetShortCut("-");
    settings.lvList->headerItem()->setText(2, "");
    Data->SetExcludeEmptyProp(true);
    settings.client->Client().UpdateData();
    main.client->Client().UpdateData();

    EXPECT_FALSE(HasKey("TfrmSettings", "memStatus.ShortCut"));
    EXPECT_FALSE(HasKey("TfrmSettings", "memStatus.Lines"));
    EXPECT_FALSE(HasKey("TfrmSettings", "lvList.Columns[2].Caption"));
    EXPECT_FALSE(HasKey("TfrmSettings", "btnCancel.Hint"));
    EXPECT_TRUE(HasKey("TfrmSettings", "lvList.Columns[1].Caption"));
    EXPECT_TRUE(HasKey("TfrmSettings", "btnOK.Hint"));
    const std::vector<std::string> tray = Section("TfrmMain");
    EXPECT_NE(std::find(tray.begin(), tray.end(), "N2.Caption=-"), tray.end());

    Data->Data().ClearCurrentAll();
    Data->SetExcludeEmptyProp(false);
    settings.client->Client().UpdateData();
    const std::vector<std::string> lines = Section("TfrmSettings");
    for (const char* line :
         {"memStatus.ShortCut=-", "memStatus.Lines=", "lvList.Columns[2].Caption=", "btnCancel.Hint="}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

TEST_F(FormTranslationTest, ComponentsBoundToAnActionAreLeftOutOnRequest) {
    TfrmMain main(Data.get());
    main.client->Client().UpdateData();
    EXPECT_TRUE(HasKey("TfrmMain", "btnHide.Caption"));

    Data->Data().ClearCurrentAll();
    Data->SetExcludeWithAction(true);
    main.client->Client().UpdateData();
    for (const std::string& key : Keys("TfrmMain")) {
        EXPECT_NE(key.rfind("btnHide.", 0), 0u) << key;
    }
    EXPECT_TRUE(HasKey("TfrmMain", "actHide.Caption"));
    EXPECT_TRUE(HasKey("TfrmMain", "btnStop.Caption"));
}

// ---------------------------------------------------------------- the framework's dialogs

class EngineStandInHook : public IFormEngine {
  public:
    QObject* SkinData() const override { return Skin; }
    QtKTMultiLangData* LanguageData() const override { return Language; }
    QWidget* MainForm() const override { return Main; }

    QObject* Skin = nullptr;
    QtKTMultiLangData* Language = nullptr;
    QWidget* Main = nullptr;
};

// A dialog as the framework builds them: a client before its TKTForm and one after it.
class TfrmAbout : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmAbout(TspSkinData* ownSkin) {
        setObjectName("frmAbout");
        setWindowTitle("About");
        resize(200, 100);
        early = TfrmSettings::Named(new QtKTMultiLang(*this), "KTMultiLangEarly");
        btnClose = TfrmSettings::Named(new TspSkinButton("&Close", this), "btnClose");
        btnOwn = TfrmSettings::Named(new TspSkinButton("&Own", this), "btnOwn");
        btnOwn->SetSkinData(ownSkin);
        form = TfrmSettings::Named(new TKTForm(*this), "KTForm1");
        form->SetRuntimeSetSkinData(true);
        form->SetRuntimeSetLanguageData(true);
        late = TfrmSettings::Named(new QtKTMultiLang(*this), "KTMultiLangLate");
        NotifyFormLoaded(*this);
    }

    QtKTMultiLang* early;
    TspSkinButton* btnClose;
    TspSkinButton* btnOwn;
    TKTForm* form;
    QtKTMultiLang* late;
};

class FrameworkFormTest : public FormTranslationTest {
  protected:
    FrameworkFormTest() { SetGlobalFormEngine(&Engine); }
    ~FrameworkFormTest() override { SetGlobalFormEngine(nullptr); }

    EngineStandInHook Engine;
};

TEST_F(FrameworkFormTest, AttachesTheEnginesDataOnceTheFormIsComplete) {
    TspSkinData skin;
    TspSkinData own;
    Engine.Skin = &skin;
    Engine.Language = Data.get();
    std::vector<QtKTMultiLang*> changed;
    Data->Data().LoadCurrentFromFile(Lan("Deutsch", "[TfrmAbout]\r\nfrmAbout.Caption=Info\r\n"));

    TfrmAbout about(&own);

    EXPECT_EQ(about.btnClose->SkinData(), &skin);
    EXPECT_EQ(about.btnOwn->SkinData(), &own);
    EXPECT_EQ(about.early->LanguageData(), Data.get());
    EXPECT_EQ(about.late->LanguageData(), Data.get());
    // Only the client that completed after the data came translated at once.
    EXPECT_EQ(Data->Data().Clients().size(), 2u);
    QObject::connect(about.early, &QtKTMultiLang::OnChangeLanguage,
                     [&](QtKTMultiLang* c) { changed.push_back(c); });
    QObject::connect(about.late, &QtKTMultiLang::OnChangeLanguage,
                     [&](QtKTMultiLang* c) { changed.push_back(c); });
    EXPECT_EQ(about.windowTitle(), "Info");

    Data->Data().LoadCurrentFromFile(Lan("English", "[TfrmAbout]\r\nfrmAbout.Caption=About us\r\n"));
    EXPECT_EQ(about.windowTitle(), "About us");
    EXPECT_EQ(changed, (std::vector<QtKTMultiLang*>{about.early, about.late}));
}

TEST_F(FrameworkFormTest, LeavesTheFormAloneWithoutAnEngineOrWhenNotAsked) {
    SetGlobalFormEngine(nullptr);
    TspSkinData own;
    TfrmAbout alone(&own);
    EXPECT_EQ(alone.btnClose->SkinData(), nullptr);
    EXPECT_EQ(alone.early->LanguageData(), nullptr);

    SetGlobalFormEngine(&Engine);
    TspSkinData skin;
    Engine.Skin = &skin;
    Engine.Language = Data.get();
    alone.form->SetRuntimeSetSkinData(false);
    alone.form->SetRuntimeSetLanguageData(false);
    alone.form->Loaded();
    EXPECT_EQ(alone.btnClose->SkinData(), nullptr);
    EXPECT_EQ(alone.late->LanguageData(), nullptr);
}

TEST_F(FrameworkFormTest, FormPropertiesCentreTheFormOnTheMainFormWhenShown) {
    QWidget main;
    main.setGeometry(100, 80, 600, 400);
    main.show();
    Engine.Main = &main;
    TspSkinData own;
    TfrmAbout about(&own);
    about.form->SetRunTimeSetFormProperties(true);
    about.form->Loaded();

    about.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(about.frameGeometry().center(), main.frameGeometry().center());
}

}  // namespace
}  // namespace cloakline::test

#include "FormTranslation_test.moc"
