#include "gui/look.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPixmap>

QFont largeFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                      QStringLiteral("Noto Serif CJK TC")});
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(16);
    return font;
}

QFont windowFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Noto Sans CJK TC")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

static QPainterPath checkMark()
{
    QPainterPath path;
    path.moveTo(3, 9.5);
    path.lineTo(7, 13.5);
    path.lineTo(15, 4.5);
    return path;
}

static QPixmap blankGlyph()
{
    QPixmap pixmap(OkGlyphSize, OkGlyphSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

static QPixmap enabledGlyph()
{
    QPixmap pixmap = blankGlyph();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 128, 0), 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawPath(checkMark());
    return pixmap;
}

static QPixmap disabledGlyph()
{
    QPainterPathStroker stroker;
    stroker.setWidth(3);
    stroker.setCapStyle(Qt::SquareCap);
    stroker.setJoinStyle(Qt::MiterJoin);
    const QPainterPath outline = stroker.createStroke(checkMark()).simplified();
    QPixmap pixmap = blankGlyph();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(outline.translated(1, 1), Qt::white); // embossed, as disabled glyphs are
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.drawPath(outline);
    return pixmap;
}

QIcon okGlyph()
{
    QIcon icon;
    icon.addPixmap(enabledGlyph(), QIcon::Normal);
    icon.addPixmap(disabledGlyph(), QIcon::Disabled);
    return icon;
}

void preferTraditionalChinese()
{
    QFont font = QApplication::font();
    font.setFamilies({font.family(), QStringLiteral("Noto Sans CJK TC")});
    QApplication::setFont(font);
}
