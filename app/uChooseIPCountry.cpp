#include "app/uChooseIPCountry.h"

#include <QFrame>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

#include "app/FlagPictureList.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "core/support/TextEncoding.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

constexpr std::string_view kAnyCountry = "UN";

}  // namespace

TfrmChooseIPCountry::TfrmChooseIPCountry(TProxyManager& manager,
                                         TKTSettings& settings,
                                         const TFlagPictureList& flags,
                                         QWidget* owner)
    : QDialog(owner), FProxyManager(manager), FSettings(settings), FFlags(flags) {
    setObjectName(QStringLiteral("frmChooseIPCountry"));
    setWindowTitle(QStringLiteral("Select Fake Location"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(451, 450);

    pnlList = new QFrame(this);
    pnlList->setObjectName(QStringLiteral("pnlList"));
    pnlList->setFrameShape(QFrame::StyledPanel);
    pnlList->setGeometry(19, 16, 414, 377);
    lvList = new QListWidget(pnlList);
    lvList->setObjectName(QStringLiteral("lvList"));
    lvList->setGeometry(1, 1, 412, 375);
    lvList->setFrameShape(QFrame::NoFrame);
    lvList->setViewMode(QListView::IconMode);
    lvList->setMovement(QListView::Static);
    lvList->setResizeMode(QListView::Adjust);
    lvList->setIconSize(QSize(48, 48));
    // Four columns beside the room kept for the scroll bar; a name on one
    // line, elided only when it is wider than its column.
    lvList->setGridSize(QSize(96, 84));
    lvList->setWordWrap(false);
    lvList->setTextElideMode(Qt::ElideRight);
    lvList->setSelectionMode(QAbstractItemView::SingleSelection);
    lvList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The list's own scroll bar, shown only when the countries do not fit.
    lvList->verticalScrollBar()->setObjectName(QStringLiteral("sbV"));
    lvList->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    btnOK = new QPushButton(QStringLiteral("&OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setGeometry(269, 401, 75, 25);
    btnOK->setDefault(true);
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setGeometry(349, 401, 75, 25);
    connect(btnOK, &QPushButton::clicked, this, [this] {
        if (btnOKClick()) {
            accept();
        } else {
            reject();
        }
    });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    // A double click picks the country like OK does.
    connect(lvList, &QListWidget::itemActivated, btnOK, &QPushButton::click);

    KTMultiLang1 = CreateFormTranslationClient(*this);
    FormCreate();
    NotifyFormLoaded(*this);
}

void TfrmChooseIPCountry::FormCreate() {
    LoadList();
}

void TfrmChooseIPCountry::LoadList() {
    lvList->clear();
    const std::string& target = FProxyManager.TargetCountry();
    auto addItem = [this, &target](const std::string& caption, const std::string& code) {
        const int index = FFlags.GetImageIndex(code);
        const QPixmap& picture = index >= 0 ? FFlags.Picture(index) : TFlagPictureList::Placeholder();
        auto* item = new QListWidgetItem(QIcon(picture), QString::fromStdString(caption), lvList);
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
        if (!code.empty() && SameTextAscii(target, code)) {
            lvList->setCurrentItem(item);
        }
    };

    TStringList countries;
    FProxyManager.GetCountryList(&countries);
    addItem("Auto Selected", std::string(kAnyCountry));
    for (const std::string& name : countries) {
        addItem(name, FProxyManager.GetCountryShort(name));
    }
    if (QListWidgetItem* selected = lvList->currentItem(); selected != nullptr) {
        lvList->scrollToItem(selected);
    } else {
        // The current choice is not in the lists: nothing is preselected.
        lvList->setCurrentItem(nullptr);
        lvList->clearSelection();
    }
}

bool TfrmChooseIPCountry::btnOKClick() {
    const QList<QListWidgetItem*> selected = lvList->selectedItems();
    if (selected.isEmpty()) {
        return false;
    }
    if (lvList->row(selected.front()) == 0) {
        FProxyManager.SetTargetCountry(kAnyCountry);
    } else {
        FProxyManager.SetTargetCountry(FProxyManager.GetCountryShort(selected.front()->text().toStdString()));
    }
    FSettings.SetSettingstring("TARGET_COUNTRY", FProxyManager.TargetCountry());
    return true;
}

namespace {

class TNoInfoFetcher final : public IInfoFetcher {
  public:
    void Fetch(const std::string&, TOnInfoGot) override {}
};

// For the language harvest: a chooser over empty lists. The lists live as
// long as the form does.
std::unique_ptr<QWidget> CreateForHarvest(QWidget& mainForm) {
    if (!HasGlobalPlatform()) {
        return nullptr;
    }
    struct TLists {
        TNoInfoFetcher Fetcher;
        TClockSeededRandom Random{*GlobalPlatform().Clock};
        TProxyManager Manager{GlobalSettings(), Fetcher, Random};
        TFlagPictureList Flags;
    };
    auto lists = std::make_shared<TLists>();
    auto form =
        std::make_unique<TfrmChooseIPCountry>(lists->Manager, GlobalSettings(), lists->Flags, &mainForm);
    QObject::connect(form.get(), &QObject::destroyed, [lists] {});
    return form;
}

const TFormRegistration kRegistration("TfrmChooseIPCountry", CreateForHarvest);

}  // namespace

}  // namespace cloakline
