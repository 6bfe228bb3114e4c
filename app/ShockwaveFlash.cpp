#include "app/ShockwaveFlash.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QImageReader>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/QtPaths.h"

namespace cloakline {

namespace {

// Larger files are not movies of ours; larger pictures are not flags or logos.
constexpr qint64 kMaxMovieBytes = 1 << 20;
constexpr int kMaxPictureSide = 4096;
constexpr qsizetype kMaxPanelText = 200;

QColor Argb(std::uint32_t colour) {
    return QColor::fromRgba(colour);
}

// The commands' colours are 0x00BBGGRR.
QColor CommandColour(std::uint32_t colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

QRect CentredIn(const QRect& box, QSize size) {
    return QRect(box.x() + (box.width() - size.width()) / 2, box.y() + (box.height() - size.height()) / 2,
                 size.width(), size.height());
}

}  // namespace

QString PanelText(std::string_view text) {
    const QString raw = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    QString out;
    out.reserve(std::min(raw.size(), kMaxPanelText));
    for (QChar c : raw) {
        if (out.size() >= kMaxPanelText) {
            break;
        }
        switch (c.category()) {
            case QChar::Other_Control:
            case QChar::Separator_Line:
            case QChar::Separator_Paragraph:
                out.append(QLatin1Char(' '));
                break;
            case QChar::Other_Format:  // direction overrides, invisible joiners
                break;
            default:
                out.append(c);
        }
    }
    return out;
}

QImage LoadPanelPicture(std::string_view path) {
    if (path.empty() || path.find("://") != std::string_view::npos) {
        return {};
    }
    const QString native = NativePathFromProgramPath(path);
    if (!QFileInfo(native).isFile()) {
        return {};
    }
    QImageReader reader(native);
    const QSize size = reader.size();
    if (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide) {
        return {};
    }
    return reader.read();
}

TShockwaveFlash::TShockwaveFlash(QWidget* AOwner) : QWidget(AOwner) {
    FWindowProc = [this](QEvent* e) { return WndProc(e); };
    setMouseTracking(true);
    auto make = [this](double* value) {
        auto* animation = new QVariantAnimation(this);
        animation->setEasingCurve(QEasingCurve::InOutCubic);
        connect(animation, &QVariantAnimation::valueChanged, this, [this, value](const QVariant& v) {
            *value = v.toDouble();
            update();
        });
        return animation;
    };
    for (TCardState& card : FCards) {
        card.AlphaAnimation = make(&card.View.Alpha);
        card.ScaleAnimation = make(&card.View.Scale);
    }
    FTurnAnimation = make(&FTurn);
}

TShockwaveFlash::~TShockwaveFlash() {
    // Whoever installed a handler may be gone before the widget's own end.
    FWindowProc = nullptr;
}

void TShockwaveFlash::SetMovie(std::string_view path) {
    FMovie = path;
    FLoaded = false;
    QFile file(NativePathFromProgramPath(path));
    if (file.size() <= kMaxMovieBytes && file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        FLook = ReadFlashMovie(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        FLoaded = true;
    }
    update();
}

void TShockwaveFlash::SetQuality(int value) {
    FQuality = value;
    update();
}

void TShockwaveFlash::SetVariable(std::string_view name, std::string_view value) {
    if (FLoaded && name == kFlashCommandVariable) {
        Apply(ParseFlashCommand(value));
    }
}

void TShockwaveFlash::SetWindowProc(TWndMethod handler) {
    FWindowProc = std::move(handler);
}

bool TShockwaveFlash::WndProc(QEvent* event) {
    return QWidget::event(event);
}

bool TShockwaveFlash::event(QEvent* event) {
    return FWindowProc ? FWindowProc(event) : QWidget::event(event);
}

void TShockwaveFlash::Animate(QVariantAnimation*& animation, double& value, double target, int ms) {
    animation->stop();
    if (ms <= 0 || value == target) {
        value = target;
        update();
        return;
    }
    animation->setStartValue(value);
    animation->setEndValue(target);
    animation->setDuration(ms);
    animation->start();
}

void TShockwaveFlash::Apply(const TFlashCommand& cmd) {
    TCardState& card = FCards[Index(cmd.Card)];
    switch (cmd.Kind) {
        case TFlashCommandKind::Unknown:
            return;
        case TFlashCommandKind::Background:
            FBackgroundFile = cmd.Path;
            FBackground = LoadPanelPicture(cmd.Path);
            break;
        case TFlashCommandKind::Logo:
            FLogoFile = cmd.Path;
            FLogo = LoadPanelPicture(cmd.Path);
            break;
        case TFlashCommandKind::IPInfo:
            card.View.Display = cmd.Display;
            card.View.Flag = cmd.Flag;
            card.View.IP = cmd.IP;
            card.View.Country = cmd.Country;
            card.View.City = cmd.City;
            card.FlagImage = LoadPanelPicture(cmd.Flag);
            card.View.FlagShown = !card.FlagImage.isNull();
            // New content appears as given; only the A form and fades move.
            if (cmd.Alpha) {
                Animate(card.AlphaAnimation, card.View.Alpha, *cmd.Alpha, 0);
            }
            if (cmd.Scale) {
                Animate(card.ScaleAnimation, card.View.Scale, *cmd.Scale, 0);
            }
            break;
        case TFlashCommandKind::IPInfoA:
            if (cmd.Alpha) {
                Animate(card.AlphaAnimation, card.View.Alpha, *cmd.Alpha, FLook.AlphaMs);
            }
            if (cmd.Scale) {
                Animate(card.ScaleAnimation, card.View.Scale, *cmd.Scale, FLook.AlphaMs);
            }
            break;
        case TFlashCommandKind::TextInfo:
        case TFlashCommandKind::TextInfo2: {
            TFlashInfoLine& line = FInfo[cmd.Kind == TFlashCommandKind::TextInfo ? 0 : 1];
            line.Text = cmd.Text;
            line.Color = cmd.Color.value_or(line.Color);
            break;
        }
        case TFlashCommandKind::Fade:
            Animate(card.AlphaAnimation, card.View.Alpha, cmd.FadeMax, FLook.FadeMs);
            break;
        case TFlashCommandKind::Turn:
            if (cmd.Card != FFocus) {
                FTurnFrom = FFocus;
                FFocus = cmd.Card;
                FTurn = 0;
                Animate(FTurnAnimation, FTurn, 1, FLook.TurnMs);
            }
            break;
    }
    update();
}

TShockwaveFlash::Layout TShockwaveFlash::ComputeLayout() const {
    const int w = width();
    const int h = height();
    const int margin = 8;
    const int header = std::clamp(h * 14 / 100, 18, 28);
    const int status = std::clamp(h * 22 / 100, 30, 44);
    const int arrow = 34;
    Layout l;
    l.Header = QRect(margin, 4, w - 2 * margin, header);
    l.Logo = QRect(l.Header.x(), l.Header.y(), std::min(170, l.Header.width() / 2), header);
    const QFontMetrics link(LookFont(11, true));
    const int checkWidth = link.horizontalAdvance(CheckCaption()) + 22;
    const int checkHeight = std::min(header - 4, 20);
    l.Check = QRect(l.Header.right() - checkWidth + 1, l.Header.y() + (header - checkHeight) / 2, checkWidth,
                    checkHeight);
    const int cardsTop = l.Header.bottom() + 5;
    const int cardsBottom = h - status - 7;
    const int cardWidth = std::max(0, (w - 2 * margin - arrow) / 2);
    const int cardHeight = std::max(0, cardsBottom - cardsTop);
    l.Cards[0] = QRect(margin, cardsTop, cardWidth, cardHeight);
    l.Cards[1] = QRect(w - margin - cardWidth, cardsTop, cardWidth, cardHeight);
    l.Arrow = QRect(l.Cards[0].right() + 1, cardsTop, arrow, cardHeight);
    l.Status = QRect(margin, h - status - 3, w - 2 * margin, status);
    const int first = status * 55 / 100;
    l.Lines[0] = QRect(l.Status.x() + 12, l.Status.y() + 2, l.Status.width() - 24, first);
    l.Lines[1] = QRect(l.Status.x() + 12, l.Lines[0].bottom() - 1, l.Status.width() - 24, status - first - 3);
    return l;
}

QFont TShockwaveFlash::LookFont(double pixelSize, bool bold) const {
    QFont font(QString::fromStdString(FLook.Font));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QRect TShockwaveFlash::CheckIPArea() const {
    return FLoaded ? ComputeLayout().Check : QRect();
}

QRect TShockwaveFlash::HomePageArea() const {
    return FLoaded ? ComputeLayout().Logo : QRect();
}

QRect TShockwaveFlash::ArrowArea() const {
    return FLoaded ? ComputeLayout().Arrow : QRect();
}

void TShockwaveFlash::SetCaptions(std::string local, std::string target, std::string check) {
    FLocalCaption = std::move(local);
    FTargetCaption = std::move(target);
    FCheckCaption = std::move(check);
    update();
}

QString TShockwaveFlash::Caption(TFlashCard card) const {
    const std::string& own = card == TFlashCard::Local ? FLocalCaption : FTargetCaption;
    const std::string& movie = card == TFlashCard::Local ? FLook.LocalCaption : FLook.TargetCaption;
    // Shown in capitals, as the movie's card titles are.
    return PanelText(own.empty() ? movie : own).toUpper();
}

QString TShockwaveFlash::CheckCaption() const {
    return PanelText(FCheckCaption.empty() ? FLook.CheckCaption : FCheckCaption);
}

QFont TShockwaveFlash::CardCaptionFont() const {
    QFont caption = LookFont(10, true);
    caption.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return caption;
}

QRectF TShockwaveFlash::CardCaptionRect(const QRectF& box) {
    constexpr double pad = 11;
    // Room is kept at the right for the dot of the card in focus.
    return QRectF(box.left() + pad, box.top() + 7, box.width() - 2 * pad - 12, 14);
}

QStringList TShockwaveFlash::CutTexts() const {
    QStringList cut;
    if (!FLoaded) {
        return cut;
    }
    const Layout l = ComputeLayout();
    const QFontMetricsF caption(CardCaptionFont());
    for (TFlashCard card : {TFlashCard::Local, TFlashCard::Target}) {
        const QRect box = l.Cards[Index(card)];
        const QRectF room = CardCaptionRect(QRectF(QPointF(0, 0), QSizeF(box.size())));
        if (caption.horizontalAdvance(Caption(card)) > room.width()) {
            cut << Caption(card);
        }
    }
    // The check link grows to its text; it must still leave the logo its place.
    if (l.Check.left() <= l.Logo.right() || l.Check.left() < l.Header.left()) {
        cut << CheckCaption();
    }
    return cut;
}

void TShockwaveFlash::ShowFlagPicture(std::string_view reference, const QImage& picture) {
    for (TCardState& card : FCards) {
        if (card.View.Flag == reference) {
            card.FlagImage = picture;
            card.View.FlagShown = !picture.isNull();
        }
    }
    update();
}

int TShockwaveFlash::AreaAt(const QPoint& point) const {
    if (!FLoaded) {
        return 0;
    }
    const Layout l = ComputeLayout();
    if (l.Check.contains(point)) {
        return 1;
    }
    return l.Logo.contains(point) ? 2 : 0;
}

void TShockwaveFlash::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        FPressedArea = AreaAt(event->position().toPoint());
    }
    QWidget::mousePressEvent(event);
}

void TShockwaveFlash::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const int area = AreaAt(event->position().toPoint());
        const bool clicked = area != 0 && area == FPressedArea;
        FPressedArea = 0;
        if (clicked && FOnFSCommand) {
            FOnFSCommand("CMD", area == 1 ? "CHECKIPINFO" : "HOMEPAGE");
        }
    }
    QWidget::mouseReleaseEvent(event);
}

void TShockwaveFlash::mouseMoveEvent(QMouseEvent* event) {
    setCursor(AreaAt(event->position().toPoint()) != 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QWidget::mouseMoveEvent(event);
}

void TShockwaveFlash::paintEvent(QPaintEvent*) {
    if (!FLoaded) {
        return;
    }
    QPainter p(this);
    if (FQuality != 0) {
        p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
    }
    const Layout l = ComputeLayout();

    if (!FBackground.isNull()) {
        const QImage scaled =
            FBackground.scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        p.drawImage(CentredIn(rect(), scaled.size()), scaled);
    } else {
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, Argb(FLook.BackgroundTop));
        gradient.setColorAt(1, Argb(FLook.BackgroundBottom));
        p.fillRect(rect(), gradient);
        // A faint globe behind the cards.
        QColor line = Argb(FLook.Accent);
        line.setAlpha(22);
        p.setPen(QPen(line, 1));
        p.setBrush(Qt::NoBrush);
        const QPointF centre(width() * 0.5, height() * 0.55);
        const double radius = height() * 0.95;
        p.drawEllipse(centre, radius, radius);
        for (int i = 1; i <= 3; ++i) {
            p.drawEllipse(centre, radius * i / 4.0, radius);
            p.drawEllipse(centre, radius, radius * i / 4.0);
        }
    }

    PaintLogo(p, l.Logo);

    // The check link: a pill with the caption.
    p.setPen(QPen(Argb(FLook.Link), 1));
    QColor pill = Argb(FLook.Card);
    pill.setAlpha(200);
    p.setBrush(pill);
    p.drawRoundedRect(QRectF(l.Check).adjusted(0.5, 0.5, -0.5, -0.5), l.Check.height() / 2.0,
                      l.Check.height() / 2.0);
    p.setFont(LookFont(11, true));
    p.drawText(l.Check, Qt::AlignCenter, CheckCaption());

    PaintCard(p, l, TFlashCard::Local);
    // While the fake card is away (before a Hide, after a Stop) its place
    // shows as an empty slot, and the arrow that links the two cards goes
    // with it rather than pointing at nothing.
    const double target = std::clamp(FCards[Index(TFlashCard::Target)].View.Alpha / 100.0, 0.0, 1.0);
    PaintEmptySlot(p, l.Cards[Index(TFlashCard::Target)], 1 - target);
    PaintCard(p, l, TFlashCard::Target);
    if (target > 0) {
        p.save();
        p.setOpacity(target);
        PaintArrow(p, l.Arrow);
        p.restore();
    }

    p.setPen(Qt::NoPen);
    p.setBrush(Argb(FLook.StatusBack));
    p.drawRoundedRect(l.Status, 8, 8);
    for (int i = 0; i < 2; ++i) {
        const QFont font = LookFont(i == 0 ? 13 : 11, i == 0);
        p.setFont(font);
        p.setPen(CommandColour(FInfo[static_cast<std::size_t>(i)].Color));
        const QString text =
            QFontMetrics(font).elidedText(PanelText(FInfo[static_cast<std::size_t>(i)].Text), Qt::ElideRight,
                                          l.Lines[static_cast<std::size_t>(i)].width());
        p.drawText(l.Lines[static_cast<std::size_t>(i)], Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

void TShockwaveFlash::PaintLogo(QPainter& p, const QRect& area) {
    if (!FLogo.isNull()) {
        const QImage scaled = FLogo.scaled(area.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        p.drawImage(QPoint(area.x(), area.y() + (area.height() - scaled.height()) / 2), scaled);
        return;
    }
    // A shield with a cut-out, then the name.
    const double s = area.height() * 0.85;
    const QRectF shield(area.x(), area.y() + (area.height() - s) / 2, s * 0.82, s);
    QPainterPath path;
    path.moveTo(shield.center().x(), shield.top());
    path.lineTo(shield.right(), shield.top() + s * 0.18);
    path.cubicTo(shield.right(), shield.top() + s * 0.62, shield.center().x() + s * 0.12,
                 shield.bottom() - s * 0.08, shield.center().x(), shield.bottom());
    path.cubicTo(shield.center().x() - s * 0.12, shield.bottom() - s * 0.08, shield.left(),
                 shield.top() + s * 0.62, shield.left(), shield.top() + s * 0.18);
    path.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Argb(FLook.Accent));
    p.drawPath(path);
    QPainterPath inner;
    inner.moveTo(shield.center().x(), shield.top() + s * 0.2);
    inner.lineTo(shield.center().x(), shield.bottom() - s * 0.16);
    inner.cubicTo(shield.center().x() - s * 0.1, shield.bottom() - s * 0.26, shield.left() + s * 0.14,
                  shield.top() + s * 0.58, shield.left() + s * 0.14, shield.top() + s * 0.3);
    inner.closeSubpath();
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawPath(inner);

    const QFont font = LookFont(area.height() * 0.72, true);
    p.setFont(font);
    p.setPen(Argb(FLook.Logo));
    const QRect textArea(static_cast<int>(shield.right()) + 6, area.y(),
                         area.right() - static_cast<int>(shield.right()) - 6, area.height());
    p.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(font).elidedText(PanelText(FLook.LogoText), Qt::ElideRight, textArea.width()));
}

void TShockwaveFlash::PaintEmptySlot(QPainter& p, const QRect& area, double opacity) {
    if (opacity <= 0 || area.isEmpty()) {
        return;
    }
    p.save();
    p.setOpacity(opacity);
    const QRectF box = QRectF(area).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor fill = Argb(FLook.Card);
    fill.setAlpha(90);
    p.setBrush(fill);
    p.setPen(QPen(Argb(FLook.CardBorder), 1.5, Qt::DashLine));
    p.drawRoundedRect(box, 10, 10);
    p.setFont(CardCaptionFont());
    p.setPen(Argb(FLook.Muted));
    const QRectF caption = CardCaptionRect(QRectF(area));
    p.drawText(
        caption, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(CardCaptionFont())
            .elidedText(Caption(TFlashCard::Target), Qt::ElideRight, static_cast<int>(caption.width())));
    // A small shield outline: the place hiding will fill.
    const double s = std::min(box.height() * 0.34, 34.0);
    const QPointF c(box.center().x(), box.center().y() + 6);
    QPainterPath shield;
    shield.moveTo(c.x(), c.y() - s / 2);
    shield.lineTo(c.x() + s * 0.41, c.y() - s * 0.32);
    shield.cubicTo(c.x() + s * 0.41, c.y() + s * 0.12, c.x() + s * 0.12, c.y() + s * 0.42, c.x(),
                   c.y() + s / 2);
    shield.cubicTo(c.x() - s * 0.12, c.y() + s * 0.42, c.x() - s * 0.41, c.y() + s * 0.12, c.x() - s * 0.41,
                   c.y() - s * 0.32);
    shield.closeSubpath();
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Argb(FLook.CardBorder), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(shield);
    p.restore();
}

void TShockwaveFlash::PaintArrow(QPainter& p, const QRect& area) {
    // Points at the card in focus and swings round with a turn.
    const double to = FFocus == TFlashCard::Target ? 0 : 180;
    const double from = FTurnFrom == TFlashCard::Target ? 0 : 180;
    const double angle = FTurn >= 1 ? to : from + (to - from) * FTurn;
    const double d = std::min(area.width() - 6, 26);
    if (d <= 0) {
        return;
    }
    p.save();
    p.translate(QRectF(area).center());
    p.setPen(Qt::NoPen);
    p.setBrush(Argb(FLook.Accent));
    p.drawEllipse(QPointF(0, 0), d / 2, d / 2);
    p.rotate(angle);
    p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const double a = d * 0.2;
    p.drawLine(QPointF(-a * 1.2, 0), QPointF(a * 1.1, 0));
    p.drawPolyline(QPolygonF({QPointF(a * 0.1, -a), QPointF(a * 1.1, 0), QPointF(a * 0.1, a)}));
    p.restore();
}

void TShockwaveFlash::PaintCard(QPainter& p, const Layout& layout, TFlashCard which) {
    const TCardState& card = FCards[Index(which)];
    const TFlashCardView& v = card.View;
    const QRect r = layout.Cards[Index(which)];
    if (v.Alpha <= 0 || v.Scale <= 0 || r.isEmpty()) {
        return;
    }
    // The card that is turned to folds away and opens again with its new face.
    double fold = 1;
    bool focused = which == FFocus;
    if (FTurn < 1) {
        if (which == FFocus) {
            fold = std::abs(std::cos(std::numbers::pi * FTurn));
            focused = FTurn >= 0.5;
        } else if (which == FTurnFrom) {
            focused = FTurn < 0.5;
        }
    }
    p.save();
    p.setOpacity(v.Alpha / 100.0);
    p.translate(QRectF(r).center());
    p.scale(v.Scale / 100.0 * std::max(fold, 0.02), v.Scale / 100.0);
    const QRectF box(-r.width() / 2.0, -r.height() / 2.0, r.width(), r.height());

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 40, 70, 28));
    p.drawRoundedRect(box.translated(0, 2), 10, 10);
    p.setBrush(Argb(FLook.Card));
    p.setPen(focused ? QPen(Argb(FLook.Accent), 2) : QPen(Argb(FLook.CardBorder), 1));
    p.drawRoundedRect(box.adjusted(1, 1, -1, -1), 10, 10);

    const double pad = 11;
    const QFont caption = CardCaptionFont();
    p.setFont(caption);
    p.setPen(focused ? Argb(FLook.Accent) : Argb(FLook.Caption));
    const QString captionText = Caption(which);
    const QRectF captionRect = CardCaptionRect(box);
    p.drawText(
        captionRect, Qt::AlignLeft | Qt::AlignVCenter,
        QFontMetrics(caption).elidedText(captionText, Qt::ElideRight, static_cast<int>(captionRect.width())));
    if (focused) {
        p.setPen(Qt::NoPen);
        p.setBrush(Argb(FLook.Accent));
        p.drawEllipse(QPointF(box.right() - pad - 3, captionRect.center().y()), 3.5, 3.5);
    }

    const QColor textColour = v.Display ? Argb(FLook.Text) : Argb(FLook.Muted);
    const double bodyTop = captionRect.bottom() + 6;
    const double bodyHeight = box.bottom() - 8 - bodyTop;
    const double flagHeight = std::clamp(bodyHeight * 0.5, 12.0, 32.0);
    const double ipSize = std::clamp(bodyHeight * 0.3, 11.0, 18.0);
    const double smallSize = std::clamp(bodyHeight * 0.19, 9.0, 12.0);
    // The address block sits in the middle of what the caption leaves.
    const double blockHeight = ipSize * 1.3 + smallSize * 2.7;
    const double blockTop = bodyTop + std::max(0.0, (bodyHeight - blockHeight) / 2);
    const QRectF flagBox(box.left() + pad,
                         blockTop + std::max(0.0, (ipSize * 1.3 + smallSize * 1.35 - flagHeight) / 2),
                         flagHeight * 1.5, flagHeight);
    if (v.FlagShown) {
        const QImage scaled =
            card.FlagImage.scaled(flagBox.size().toSize(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QRectF at(flagBox.x(), flagBox.y() + (flagBox.height() - scaled.height()) / 2, scaled.width(),
                        scaled.height());
        p.save();
        p.setOpacity(p.opacity() * (v.Display ? 1.0 : 0.45));
        p.drawImage(at, scaled);
        p.setPen(QPen(QColor(0, 0, 0, 40), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(at.adjusted(0.5, 0.5, -0.5, -0.5));
        p.restore();
    }

    const double textLeft = flagBox.right() + 10;
    const double textWidth = box.right() - pad - textLeft;
    struct Row {
        const std::string& Text;
        QFont Font;
        QColor Colour;
        double Height;
    };
    // A long address is set smaller rather than cut short.
    QFont ipFont = LookFont(ipSize, true);
    if (const double wide = QFontMetricsF(ipFont).horizontalAdvance(PanelText(v.IP));
        wide > textWidth && textWidth > 0) {
        ipFont = LookFont(std::max(9.0, std::floor(ipSize * textWidth / wide)), true);
    }
    const Row rows[] = {
        {v.IP, ipFont, textColour, ipSize * 1.3},
        {v.Country, LookFont(smallSize, false), textColour, smallSize * 1.35},
        {v.City, LookFont(smallSize, false), v.Display ? Argb(FLook.Caption) : Argb(FLook.Muted),
         smallSize * 1.35},
    };
    double y = blockTop;
    for (const Row& row : rows) {
        if (y + row.Height > box.bottom() - 4) {
            break;
        }
        p.setFont(row.Font);
        p.setPen(row.Colour);
        const QRectF line(textLeft, y, textWidth, row.Height);
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(row.Font).elidedText(PanelText(row.Text), Qt::ElideRight,
                                                     static_cast<int>(textWidth)));
        y += row.Height;
    }
    p.restore();
}

}  // namespace cloakline
