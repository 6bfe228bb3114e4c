#include "app/uChooseIPCountry.h"

#include <QApplication>
#include <QFrame>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>

#include "app/FlagPictureList.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "core/support/TextEncoding.h"
#include "ui/FitToText.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

constexpr std::string_view kAnyCountry = "UN";
constexpr int kFlagSide = 48;
constexpr int kCellWidth = 96;
constexpr int kCaptionLines = 3;
constexpr int kGap = 4;

// Each country as a flag centred over its name; the name is wrapped onto up
// to three lines and cut with an ellipsis only beyond them.
class TFlagItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QSize CellSize(const QFont& font) {
        return QSize(kCellWidth,
                     kGap + kFlagSide + kGap + kCaptionLines * QFontMetrics(font).lineSpacing() + kGap);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return CellSize(option.font);
    }

    void paint(QPainter* painter,
               const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* view = opt.widget;
        QStyle* style = view != nullptr ? view->style() : QApplication::style();
        const QRect cell = opt.rect.adjusted(1, 1, -1, -1);
        const bool selected = opt.state.testFlag(QStyle::State_Selected);

        painter->save();
        if (selected) {
            // A light tint over the whole item; the name itself on the selection colour.
            QColor tint = opt.palette.color(QPalette::Highlight);
            tint.setAlpha(40);
            painter->fillRect(cell, tint);
        }
        if (opt.state.testFlag(QStyle::State_HasFocus)) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = cell;
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, view);
        }
        const QRect iconArea(cell.x(), cell.y() + kGap - 1, cell.width(), kFlagSide);
        if (!opt.icon.isNull()) {
            const QPixmap flag = opt.icon.pixmap(QSize(kFlagSide, kFlagSide));
            const QSize shown = flag.deviceIndependentSize().toSize();
            painter->drawPixmap(QRect(QPoint(iconArea.center().x() - shown.width() / 2 + 1,
                                             iconArea.center().y() - shown.height() / 2 + 1),
                                      shown),
                                flag);
        }
        const QRect label(cell.x() + 2, iconArea.bottom() + 1 + kGap, cell.width() - 4,
                          cell.bottom() - iconArea.bottom() - kGap);
        const QFontMetrics metrics(opt.font);
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const QStringList lines = WrapCaption(opt.text, opt.font, label.width(),
                                              std::max(1, label.height() / metrics.lineSpacing()));
        if (selected && !lines.isEmpty()) {
            int widest = 0;
            for (const QString& line : lines) {
                widest = std::max(widest, metrics.horizontalAdvance(line));
            }
            const int w = std::min(label.width(), widest + 6);
            painter->fillRect(QRect(label.x() + (label.width() - w) / 2, label.y(), w,
                                    static_cast<int>(lines.size()) * metrics.lineSpacing()),
                              opt.palette.color(QPalette::Highlight));
        }
        int y = label.y();
        for (const QString& line : lines) {
            painter->drawText(QRect(label.x(), y, label.width(), metrics.lineSpacing()),
                              Qt::AlignHCenter | Qt::AlignTop, line);
            y += metrics.lineSpacing();
        }
        painter->restore();
    }
};

}  // namespace

QStringList WrapCaption(const QString& text, const QFont& font, int width, int maxLines) {
    QStringList lines;
    if (text.isEmpty() || width <= 0 || maxLines <= 0) {
        return lines;
    }
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrapping);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == maxLines - 1) {
            // The last line there is room for takes the rest, cut if it must be.
            lines << metrics.elidedText(text.mid(line.textStart()).simplified(), Qt::ElideRight, width);
            break;
        }
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

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
    lvList->setIconSize(QSize(kFlagSide, kFlagSide));
    // Four columns beside the room kept for the scroll bar.
    lvList->setItemDelegate(new TFlagItemDelegate(lvList));
    lvList->setGridSize(TFlagItemDelegate::CellSize(lvList->font()));
    lvList->setWordWrap(true);
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
    connect(KTMultiLang1, &QtKTMultiLang::OnChangeLanguage, this, [this] { ArrangeButtons(); });
    FormCreate();
    NotifyFormLoaded(*this);
    ArrangeButtons();
}

void TfrmChooseIPCountry::ArrangeButtons() {
    // Right edges as designed; a longer caption widens its button to the left.
    const int cancelWidth = FittedWidth(*btnCancel, 75);
    btnCancel->setGeometry(424 - cancelWidth, 401, cancelWidth, 25);
    const int okWidth = FittedWidth(*btnOK, 75);
    btnOK->setGeometry(btnCancel->x() - 5 - okWidth, 401, okWidth, 25);
}

void TfrmChooseIPCountry::FormCreate() {
    LoadList();
}

void TfrmChooseIPCountry::LoadList() {
    lvList->clear();
    const std::string& target = FProxyManager.TargetCountry();
    auto addItem = [this, &target](const std::string& caption, const std::string& code) {
        auto* item = new QListWidgetItem(QString::fromStdString(caption), lvList);
        // A country without a flag shows its name only.
        if (const int index = FFlags.GetImageIndex(code); index >= 0) {
            item->setIcon(QIcon(FFlags.Picture(index)));
        }
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
