#include "app/uMain.h"

#include <QLabel>

#include "app/KTInstanceHook.h"

namespace cloakline {

TfrmMain::TfrmMain(const TAppContext& context, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    const std::string name = context.Settings.GetSettingString("App.Name");
    setWindowTitle(QString::fromStdString(name.empty() ? std::string("Cloakline") : name));
    auto* body = new QLabel(windowTitle(), this);
    body->setAlignment(Qt::AlignCenter);
    setCentralWidget(body);
    setFixedSize(474, 236);
    FInstanceHook =
        new TKTInstanceHook(this, context.Instances, context.Settings.GetSettingInteger("App.ID"));
}

TfrmMain::~TfrmMain() = default;

}  // namespace cloakline
