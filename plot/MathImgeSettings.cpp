// TMathImage's stored settings: writing and reading its properties as plain Name=Value text.
#include "plot/MathImge.h"

#include <QStringList>

#include <optional>

namespace kestrane {

namespace {

QString quoted(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\') {
            out += u'\\';
            out += c;
        } else if (c == u'\n') {
            out += QStringLiteral("\\n");
        } else {
            out += c;
        }
    }
    return out + u'"';
}

std::optional<QString> unquoted(const QString& text) {
    if (text.size() < 2 || !text.startsWith(u'"') || !text.endsWith(u'"')) {
        return std::nullopt;
    }
    QString out;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == u'\\') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            c = text.at(++i);
            out += c == u'n' ? QChar(u'\n') : c;
        } else {
            out += c;
        }
    }
    return out;
}

QString realText(Extended v) {
    return QString::fromStdString(formatExact(v));
}
QString boolText(bool v) {
    return v ? QStringLiteral("true") : QStringLiteral("false");
}

std::optional<bool> parseBool(const QString& text) {
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

template <class Style> struct StyleName {
    Style style;
    const char* name;
};

constexpr StyleName<Qt::PenStyle> kPenStyles[] = {{Qt::SolidLine, "solid"},
                                                  {Qt::DashLine, "dash"},
                                                  {Qt::DotLine, "dot"},
                                                  {Qt::DashDotLine, "dashdot"},
                                                  {Qt::DashDotDotLine, "dashdotdot"},
                                                  {Qt::NoPen, "clear"}};
constexpr StyleName<Qt::BrushStyle> kBrushStyles[] = {
    {Qt::SolidPattern, "solid"},     {Qt::NoBrush, "clear"},
    {Qt::HorPattern, "horizontal"},  {Qt::VerPattern, "vertical"},
    {Qt::FDiagPattern, "fdiagonal"}, {Qt::BDiagPattern, "bdiagonal"},
    {Qt::CrossPattern, "cross"},     {Qt::DiagCrossPattern, "diagcross"}};

template <class Style, std::size_t N> QString styleText(const StyleName<Style> (&table)[N], Style style) {
    for (const auto& entry : table) {
        if (entry.style == style) {
            return QLatin1String(entry.name);
        }
    }
    return QLatin1String(table[0].name);
}

template <class Style, std::size_t N>
std::optional<Style> parseStyle(const StyleName<Style> (&table)[N], const QString& text) {
    for (const auto& entry : table) {
        if (text == QLatin1String(entry.name)) {
            return entry.style;
        }
    }
    return std::nullopt;
}

QString fontStyleText(const PlotFont& f) {
    QStringList parts;
    if (f.bold) {
        parts << QStringLiteral("bold");
    }
    if (f.italic) {
        parts << QStringLiteral("italic");
    }
    if (f.underline) {
        parts << QStringLiteral("underline");
    }
    if (f.strikeOut) {
        parts << QStringLiteral("strikeout");
    }
    return parts.join(u',');
}

std::optional<PlotFont> withFontStyle(PlotFont f, const QString& text) {
    f.bold = f.italic = f.underline = f.strikeOut = false;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("bold")) {
            f.bold = true;
        } else if (part == QLatin1String("italic")) {
            f.italic = true;
        } else if (part == QLatin1String("underline")) {
            f.underline = true;
        } else if (part == QLatin1String("strikeout")) {
            f.strikeOut = true;
        } else {
            return std::nullopt;
        }
    }
    return f;
}

} // namespace

QString TMathImage::WriteSettings() const {
    QStringList lines;
    auto put = [&](const char* name, const QString& value) { lines << QLatin1String(name) + u'=' + value; };
    const QPen startPen(Qt::black, 1);
    const QBrush startBrush(Qt::white);

    if (!hint_.isEmpty()) {
        put("Hint", quoted(hint_));
    }
    if (showHint_) {
        put("ShowHint", boolText(true));
    }
    put("Version", quoted(Version()));
    const PlotFont& f = Font();
    put("Font.Name", quoted(f.name));
    put("Font.Size", QString::number(f.size));
    put("Font.Color", f.color.name());
    put("Font.Style", fontStyleText(f));
    if (Pen().color() != startPen.color()) {
        put("Pen.Color", Pen().color().name());
    }
    if (Pen().width() != startPen.width()) {
        put("Pen.Width", QString::number(Pen().width()));
    }
    if (Pen().style() != startPen.style()) {
        put("Pen.Style", styleText(kPenStyles, Pen().style()));
    }
    if (Brush().color() != startBrush.color()) {
        put("Brush.Color", Brush().color().name());
    }
    if (Brush().style() != startBrush.style()) {
        put("Brush.Style", styleText(kBrushStyles, Brush().style()));
    }
    put("RecordMetafile", boolText(recording_));
    put("D3Xscale", realText(d3_.xScale));
    put("D3Yscale", realText(d3_.yScale));
    put("D3Zscale", realText(d3_.zScale));
    put("D3ViewDist", realText(d3_.viewDist));
    put("D3ViewAngle", realText(d3_.viewAngle));
    put("D3AspectRatio", boolText(d3_.aspectRatio));

    // Always written, even at their start values, so that a zero edge survives a save and load.
    put("D2WorldX1", realText(world_.x1));
    put("D2WorldXW", realText(world_.xw));
    put("D2WorldY1", realText(world_.y1));
    put("D2WorldYW", realText(world_.yw));
    put("D3WorldX1", realText(d3_.worldX1));
    put("D3WorldY1", realText(d3_.worldY1));
    put("D3WorldZ1", realText(d3_.worldZ1));
    put("D3WorldXW", realText(d3_.worldXW));
    put("D3WorldYW", realText(d3_.worldYW));
    put("D3WorldZW", realText(d3_.worldZW));
    put("D3Zrotation", realText(d3_.zRotation));
    put("D3Yrotation", realText(d3_.yRotation));
    return lines.join(u'\n') + u'\n';
}

bool TMathImage::ReadSettings(const QString& text, QString* error) {
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) {
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        QString reason;
        try {
            if (eq <= 0) {
                reason = QStringLiteral("not a Name=Value line");
            } else if (!applySetting(line.left(eq).trimmed(), line.mid(eq + 1).trimmed())) {
                reason = QStringLiteral("unknown name or unreadable value");
            }
        } catch (const std::exception& e) {
            reason = QString::fromUtf8(e.what());
        }
        if (!reason.isEmpty()) {
            if (error != nullptr) {
                *error = QStringLiteral("line %1: %2").arg(i + 1).arg(reason);
            }
            return false;
        }
    }
    return true;
}

bool TMathImage::applySetting(const QString& name, const QString& value) {
    auto real = [&](Extended& field) {
        const std::optional<Extended> v = parseExact(value.toStdString());
        if (v) {
            field = *v;
        }
        return v.has_value();
    };
    auto realThrough = [&](void (TMathImage::*setter)(Extended)) {
        const std::optional<Extended> v = parseExact(value.toStdString());
        if (v) {
            (this->*setter)(*v);
        }
        return v.has_value();
    };
    auto boolThrough = [&](auto&& apply) {
        const std::optional<bool> v = parseBool(value);
        if (v) {
            apply(*v);
        }
        return v.has_value();
    };
    auto colour = [&](auto&& apply) {
        const QColor c = QColor::fromString(value);
        if (c.isValid()) {
            apply(c);
        }
        return c.isValid();
    };
    auto integer = [&](auto&& apply) {
        bool ok = false;
        const int v = value.toInt(&ok);
        if (ok) {
            apply(v);
        }
        return ok;
    };

    if (name == QLatin1String("Hint") || name == QLatin1String("Version") ||
        name == QLatin1String("Font.Name")) {
        const std::optional<QString> s = unquoted(value);
        if (!s) {
            return false;
        }
        if (name == QLatin1String("Hint")) {
            setHint(*s);
        } else if (name == QLatin1String("Version")) {
            setVersion(*s);
        } else {
            PlotFont f = Font();
            f.name = *s;
            setFont(f);
        }
        return true;
    }
    if (name == QLatin1String("ShowHint")) {
        return boolThrough([&](bool v) { setShowHint(v); });
    }
    if (name == QLatin1String("Font.Size")) {
        return integer([&](int v) { setFont(Font().withSize(v)); });
    }
    if (name == QLatin1String("Font.Color")) {
        return colour([&](const QColor& c) {
            PlotFont f = Font();
            f.color = c;
            setFont(f);
        });
    }
    if (name == QLatin1String("Font.Style")) {
        const std::optional<PlotFont> f = withFontStyle(Font(), value);
        if (f) {
            setFont(*f);
        }
        return f.has_value();
    }
    if (name == QLatin1String("Pen.Color")) {
        return colour([&](const QColor& c) {
            QPen p = Pen();
            p.setColor(c);
            setPen(p);
        });
    }
    if (name == QLatin1String("Pen.Width")) {
        return integer([&](int v) {
            QPen p = Pen();
            p.setWidth(v);
            setPen(p);
        });
    }
    if (name == QLatin1String("Pen.Style")) {
        const std::optional<Qt::PenStyle> s = parseStyle(kPenStyles, value);
        if (s) {
            QPen p = Pen();
            p.setStyle(*s);
            setPen(p);
        }
        return s.has_value();
    }
    if (name == QLatin1String("Brush.Color")) {
        return colour([&](const QColor& c) {
            QBrush b = Brush();
            b.setColor(c);
            setBrush(b);
        });
    }
    if (name == QLatin1String("Brush.Style")) {
        const std::optional<Qt::BrushStyle> s = parseStyle(kBrushStyles, value);
        if (s) {
            QBrush b = Brush();
            b.setStyle(*s);
            setBrush(b);
        }
        return s.has_value();
    }
    if (name == QLatin1String("RecordMetafile")) {
        return boolThrough([&](bool v) { setRecordMetafile(v); });
    }
    if (name == QLatin1String("D3AspectRatio")) {
        return boolThrough([&](bool v) { setD3AspectRatio(v); });
    }

    struct Through {
        const char* name;
        void (TMathImage::*setter)(Extended);
    };
    static constexpr Through kThroughSetters[] = {
        {"D3Xscale", &TMathImage::setD3Xscale},       {"D3Yscale", &TMathImage::setD3Yscale},
        {"D3Zscale", &TMathImage::setD3Zscale},       {"D3ViewDist", &TMathImage::setD3ViewDist},
        {"D3ViewAngle", &TMathImage::setD3ViewAngle},
    };
    for (const Through& t : kThroughSetters) {
        if (name == QLatin1String(t.name)) {
            return realThrough(t.setter);
        }
    }

    // The twelve always-stored values go straight into their fields; the next size change
    // computes the mapping and the view from them.
    const std::pair<const char*, Extended*> fields[] = {
        {"D2WorldX1", &world_.x1},   {"D2WorldXW", &world_.xw},       {"D2WorldY1", &world_.y1},
        {"D2WorldYW", &world_.yw},   {"D3WorldX1", &d3_.worldX1},     {"D3WorldY1", &d3_.worldY1},
        {"D3WorldZ1", &d3_.worldZ1}, {"D3WorldXW", &d3_.worldXW},     {"D3WorldYW", &d3_.worldYW},
        {"D3WorldZW", &d3_.worldZW}, {"D3Zrotation", &d3_.zRotation}, {"D3Yrotation", &d3_.yRotation},
    };
    for (const auto& [fieldName, field] : fields) {
        if (name == QLatin1String(fieldName)) {
            return real(*field);
        }
    }
    return false;
}

} // namespace kestrane
