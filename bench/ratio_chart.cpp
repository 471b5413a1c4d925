// kve_bench_chart IN.json OUT.png: the ratios of tools/bench's table as horizontal bars on a
// logarithmic axis, one group per operation, each bar with its target drawn across it.
//
// IN.json: {"title": "...", "rows": [{"operation": "...", "short": "...", "ratios": [{"label":
// "...",
//           "value": 1.4, "target": 2, "better": "lower"}, ...]}, ...]}

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

const QColor seriesColors[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
                               QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd)};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kve_bench_chart IN.json OUT.png\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kve_bench_chart: cannot read %s\n", argv[1]);
        return 1;
    }
    const QJsonObject root = QJsonDocument::fromJson(in.readAll()).object();
    const QJsonArray rows = root.value(QStringLiteral("rows")).toArray();

    // Series in order of first appearance, for the colours and the legend.
    QStringList series;
    double top = 10;
    int bars = 0;
    for (const QJsonValue row : rows) {
        for (const QJsonValue r : row.toObject().value(QStringLiteral("ratios")).toArray()) {
            const QJsonObject ratio = r.toObject();
            const QString label = ratio.value(QStringLiteral("label")).toString();
            if (!series.contains(label))
                series.append(label);
            top = std::max({top, ratio.value(QStringLiteral("value")).toDouble(),
                            ratio.value(QStringLiteral("target")).toDouble()});
            ++bars;
        }
    }
    const double low = 0.1;
    const double high = std::pow(10.0, std::ceil(std::log10(top * 1.2)));

    const int barHeight = 18;
    const int groupGap = 14;
    const int labelWidth = 190;
    const int plotWidth = 640;
    const int topMargin = 56;
    const int legendHeight = 26 * int((series.size() + 1) / 2) + 40;
    const int width = labelWidth + plotWidth + 40;
    const int height = topMargin + bars * barHeight + int(rows.size()) * groupGap + legendHeight;

    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"), 9);
    p.setFont(font);

    const auto x = [&](double v) {
        v = std::clamp(v, low, high);
        return labelWidth +
               plotWidth * (std::log10(v) - std::log10(low)) / (std::log10(high) - std::log10(low));
    };

    QFont titleFont = font;
    titleFont.setPointSize(11);
    titleFont.setBold(true);
    p.setFont(titleFont);
    p.drawText(QRect(10, 6, width - 20, 22), Qt::AlignLeft | Qt::AlignVCenter,
               root.value(QStringLiteral("title")).toString());
    p.setFont(font);

    // Decades, with 1 drawn darker: left of it the control is the faster.
    const int plotBottom = height - legendHeight + 4;
    for (double v = low; v <= high * 1.001; v *= 10) {
        p.setPen(QPen(v == 1 ? QColor(90, 90, 90) : QColor(215, 215, 215), 1));
        p.drawLine(QPointF(x(v), topMargin - 6), QPointF(x(v), plotBottom));
        p.setPen(Qt::black);
        p.drawText(QRectF(x(v) - 30, topMargin - 26, 60, 18), Qt::AlignCenter,
                   QStringLiteral("%1×").arg(v));
    }

    int y = topMargin;
    for (const QJsonValue rowValue : rows) {
        const QJsonObject row = rowValue.toObject();
        const QJsonArray ratios = row.value(QStringLiteral("ratios")).toArray();
        const int groupHeight = int(ratios.size()) * barHeight;
        p.setPen(Qt::black);
        p.drawText(QRect(6, y, labelWidth - 12, groupHeight), Qt::AlignRight | Qt::AlignVCenter,
                   row.value(QStringLiteral("short"))
                       .toString(row.value(QStringLiteral("operation")).toString()));
        for (const QJsonValue r : ratios) {
            const QJsonObject ratio = r.toObject();
            const double value = ratio.value(QStringLiteral("value")).toDouble();
            const double target = ratio.value(QStringLiteral("target")).toDouble();
            const bool lowerIsBetter =
                ratio.value(QStringLiteral("better")).toString() == QLatin1String("lower");
            const bool met = target <= 0 || (lowerIsBetter ? value <= target : value >= target);
            const QColor color =
                seriesColors[series.indexOf(ratio.value(QStringLiteral("label")).toString()) %
                             std::size(seriesColors)];
            const QRectF bar(QPointF(x(low), y + 2), QPointF(x(value), y + barHeight - 2));
            p.fillRect(bar, met ? color : color.lighter(150));
            if (!met) {
                p.setPen(QPen(Qt::red, 1.5));
                p.drawRect(bar);
            }
            if (target > 0) {
                p.setPen(QPen(Qt::black, 2, Qt::DashLine));
                p.drawLine(QPointF(x(target), y), QPointF(x(target), y + barHeight));
            }
            p.setPen(Qt::black);
            const QString text = value >= 100 ? QString::number(value, 'f', 0)
                                              : QString::number(value, 'f', value >= 10 ? 1 : 2);
            p.drawText(QRectF(x(value) + 4, y, 80, barHeight), Qt::AlignLeft | Qt::AlignVCenter,
                       text + QStringLiteral("×"));
            y += barHeight;
        }
        y += groupGap;
    }

    // Legend: a swatch per series, then what the marks mean.
    y = plotBottom + 12;
    for (int i = 0; i < series.size(); ++i) {
        const int column = i % 2;
        const int lx = labelWidth + column * (plotWidth / 2);
        const int ly = y + (i / 2) * 26;
        p.fillRect(QRect(lx, ly + 4, 14, 14), seriesColors[i % std::size(seriesColors)]);
        p.setPen(Qt::black);
        p.drawText(QRect(lx + 20, ly, plotWidth / 2 - 24, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   series[i]);
    }
    y += 26 * int((series.size() + 1) / 2);
    p.drawText(QRect(labelWidth, y, plotWidth, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("dashed: target;  pale bar, red outline: target missed"));
    p.end();

    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "kve_bench_chart: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
