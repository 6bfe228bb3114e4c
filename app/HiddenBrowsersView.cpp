#include "app/HiddenBrowsersView.h"

#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/HideController.h"
#include "core/proxy/ProxyManager.h"
#include "core/proxy/UpstreamGateway.h"
#include "core/support/TextUtils.h"
#include "platform/api/Platform.h"
#include "ui/KTEngine.h"

namespace cloakline {

namespace {

std::string Text(std::string_view key, const std::vector<std::string>& args) {
    TKTEngine* engine = GlobalEngine();
    std::string text = engine != nullptr ? engine->GetAppString(key) : std::string();
    return FillPlaceholders(text.empty() ? std::string(key) : text, args);
}

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A line that shows the user's own address stands out.
constexpr const char* kOpenColor = "#b00020";
constexpr int kMargin = 8;

}  // namespace

THiddenBrowsersView::THiddenBrowsersView(QWidget& parent, TParts parts)
    : QObject(&parent), FParts(std::move(parts)) {
    FList = new QLabel(&parent);
    FList->setObjectName(QStringLiteral("lblHiddenBrowsers"));
    FList->setTextFormat(Qt::RichText);
    FList->setWordWrap(true);
    FList->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FList->setTextInteractionFlags(Qt::NoTextInteraction);
    FList->hide();
    FTimer = new QTimer(this);
    FTimer->setInterval(kGatewayRefreshMs);
    connect(FTimer, &QTimer::timeout, this, [this] { RefreshNow(); });
    // Hide and Stop change several things in a row; the list looks once they are done.
    FSoon = new QTimer(this);
    FSoon->setSingleShot(true);
    FSoon->setInterval(0);
    connect(FSoon, &QTimer::timeout, this, [this] { RefreshNow(); });
}

void THiddenBrowsersView::Refresh() {
    FSoon->start();
}

void THiddenBrowsersView::RefreshNow() {
    const bool hiding = FParts.Hider.IsHiding();
    const bool throughGateway = hiding && FParts.Hider.HidingThroughGateway() && FParts.Gateway != nullptr;
    if (throughGateway && !FTimer->isActive()) {
        FTimer->start();
    } else if (!throughGateway) {
        FTimer->stop();
    }
    if (!hiding) {
        Show(false);
        return;
    }
    THiddenBrowsersFacts facts;
    if (FParts.System.Browsers) {
        facts.Installed = FParts.System.Browsers->Installed();
        if (throughGateway) {
            facts.ThroughGateway = true;
            facts.Running = FParts.System.Browsers->Running(FParts.Gateway->Port());
            const TProxyRec& upstream = FParts.Manager.TargetProxy();
            facts.UpstreamAddress = upstream.IP;
            facts.UpstreamCountry = upstream.Country_Long;
        }
    }
    facts.ChromiumPolicyApplied = FParts.System.ChromiumPolicy && FParts.System.ChromiumPolicy->Applied();
    FView = BuildHiddenBrowsers(facts, Text);
    Show(true);
}

int THiddenBrowsersView::Height() const {
    return FShown ? FList->height() + kMargin : 0;
}

void THiddenBrowsersView::Show(bool hiding) {
    const int before = Height();
    if (hiding) {
        QString html;
        for (const TBrowserLine& line : FView.Lines) {
            const QString text = Q(line.Text).toHtmlEscaped();
            html += line.Hidden ? text
                                : QStringLiteral("<span style=\"color:%1\">%2</span>").arg(kOpenColor, text);
            html += QStringLiteral("<br>");
        }
        html.chop(4);
        if (!FShown) {
            FTrayText = FParts.Tray.toolTip();
        }
        FList->setText(html);
        const int width = FList->parentWidget()->width() - 2 * kMargin;
        FList->setGeometry(kMargin, FList->y(), width, FList->heightForWidth(width));
        FList->show();
        FParts.Tray.setToolTip(FTrayText + QStringLiteral("\n") + Q(FView.Summary));
    } else {
        if (FShown) {
            FParts.Tray.setToolTip(FTrayText);
        }
        FList->hide();
        FList->clear();
        FView = {};
    }
    FShown = hiding;
    if (Height() != before && FParts.OnResized) {
        FParts.OnResized();
    }
}

}  // namespace cloakline
