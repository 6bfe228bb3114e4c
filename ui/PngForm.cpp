#include "ui/PngForm.h"

#include <QEvent>
#include <QPainter>

#include "ui/QtPaths.h"

namespace cloakline {

namespace {

QWidget* FormOf(QObject* owner) {
    auto* form = qobject_cast<QWidget*>(owner);
    if (form == nullptr || !form->isWindow()) {
        throw EInvalidCast("Form only");
    }
    return form;
}

}  // namespace

TspPngForm::TspPngForm(QObject* owner) : QObject(owner), Fhandle(FormOf(owner)) {
    setObjectName(QStringLiteral("spPngForm"));
    Fhandle->setWindowFlag(Qt::FramelessWindowHint, true);
    // Translucency has to be asked for before the window exists.
    Fhandle->setAttribute(Qt::WA_TranslucentBackground, true);
    Fhandle->setAttribute(Qt::WA_NoSystemBackground, true);
    Fhandle->installEventFilter(this);
}

TspPngForm::~TspPngForm() {
    Fhandle->removeEventFilter(this);
}

bool TspPngForm::LoadPng(std::string_view fileName) {
    QImage image;
    if (!image.load(NativePathFromProgramPath(fileName), "PNG")) {
        return false;
    }
    FPngImage = image;
    DataUpdated();
    return true;
}

void TspPngForm::SetPngImage(const QImage& image) {
    FPngImage = image;
    DataUpdated();
}

void TspPngForm::DataUpdated() {
    FBitmap = QImage();
    if (!FPngImage.isNull()) {
        Fhandle->setFixedSize(FPngImage.size());
    }
    Fhandle->update();
}

void TspPngForm::UpdateLayeredImage() {
    if (FPngImage.isNull()) {
        return;
    }
    if (FBitmap.isNull()) {
        FBitmap = FPngImage.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    if (Fhandle->size() != FBitmap.size()) {
        Fhandle->setFixedSize(FBitmap.size());
    }
    QPainter painter(Fhandle);
    // The picture replaces what is behind it, alpha included: nothing of an
    // earlier frame or of a background may show through the clear pixels.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(Fhandle->rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(static_cast<double>(FAlphaDegeri & 0xFF) / 255.0);
    painter.drawImage(0, 0, FBitmap);
}

bool TspPngForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Fhandle && event->type() == QEvent::Paint && !FPngImage.isNull()) {
        UpdateLayeredImage();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace cloakline
