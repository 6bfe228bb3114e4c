#include "ui/FitToText.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QToolButton>
#include <algorithm>

namespace cloakline {

namespace {

int ShownWidth(const QWidget& control, const QString& text) {
    return control.fontMetrics().size(Qt::TextShowMnemonic, text).width();
}

QStyleOptionButton ButtonOption(const QAbstractButton& button) {
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    option.icon = button.icon();
    option.iconSize = button.iconSize();
    if (const auto* push = qobject_cast<const QPushButton*>(&button)) {
        if (push->autoDefault()) {
            option.features |= QStyleOptionButton::AutoDefaultButton;
        }
        if (push->isDefault()) {
            option.features |= QStyleOptionButton::DefaultButton;
        }
    }
    return option;
}

// Where the style puts a check box's or radio button's caption.
QRect IndicatorButtonContents(const QAbstractButton& button) {
    const QStyleOptionButton option = ButtonOption(button);
    const QStyle::SubElement element = qobject_cast<const QRadioButton*>(&button) != nullptr
                                           ? QStyle::SE_RadioButtonContents
                                           : QStyle::SE_CheckBoxContents;
    return button.style()->subElementRect(element, &option, &button);
}

}  // namespace

int TextShortfall(const QWidget& control) {
    if (const auto* label = qobject_cast<const QLabel*>(&control)) {
        if (label->text().isEmpty()) {
            return 0;
        }
        if (label->wordWrap()) {
            return std::max(0, label->heightForWidth(label->width()) - label->height());
        }
        return std::max(0, label->sizeHint().width() - label->width());
    }
    if (const auto* tool = qobject_cast<const QToolButton*>(&control)) {
        return tool->text().isEmpty() ? 0 : std::max(0, tool->sizeHint().width() - tool->width());
    }
    const auto* button = qobject_cast<const QAbstractButton*>(&control);
    if (button == nullptr || button->text().isEmpty()) {
        return 0;
    }
    int need = ShownWidth(*button, button->text());
    if (!button->icon().isNull()) {
        need += button->iconSize().width() + 4;
    }
    if (qobject_cast<const QPushButton*>(button) != nullptr) {
        const QStyleOptionButton option = ButtonOption(*button);
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        // The style's own button margin on both sides of the text.
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        return std::max(0, need + margin - room.width());
    }
    return std::max(0, need - IndicatorButtonContents(*button).width());
}

int FittedWidth(QWidget& control, int designWidth) {
    const QSize kept = control.size();
    control.resize(designWidth, kept.height());
    const int shortfall = TextShortfall(control);
    control.resize(kept);
    return designWidth + shortfall;
}

int WidthForText(const QAbstractButton& button, const QString& text) {
    return button.sizeHint().width() - ShownWidth(button, button.text()) + ShownWidth(button, text);
}

QRect CaptionGap(const QAbstractButton& box) {
    static const QRegularExpression blanks(QStringLiteral("  +"));
    const QString caption = box.text();
    const QRegularExpressionMatch gap = blanks.match(caption);
    if (!gap.hasMatch()) {
        return {};
    }
    const QRect contents = IndicatorButtonContents(box);
    const int left = contents.x() + ShownWidth(box, caption.left(gap.capturedStart()));
    const int right = contents.x() + ShownWidth(box, caption.left(gap.capturedEnd()));
    return QRect(left, 0, right - left, box.height());
}

}  // namespace cloakline
