// Picture day's roster: reading a school system's export of 1,000 and 10,000 subjects
// against a plain line split of the same file (no quoting, no encodings, no checks),
// and the report of who has photos over a folder of 5,000 photos for the larger one.
#include "roster/CameraCardSheet.h"
#include "roster/Roster.h"
#include "roster/RosterReport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QStringList cLastNames {u"García"_s,      u"Müller"_s,   u"O'Brien"_s,   u"Nguyễn"_s,
                              u"Łukasiewicz"_s, u"Smith"_s,    u"Johansson"_s, u"Dubois"_s,
                              u"Rossi"_s,       u"Kowalski"_s, u"Fernández"_s, u"Lee"_s,
                              u"Öztürk"_s,      u"Da Silva"_s, u"Brontë"_s,    u"Van der Berg"_s};
const QStringList cFirstNames {u"Zoë"_s,   u"José"_s,  u"Anaïs"_s, u"Björn"_s, u"Chloé"_s,  u"Mateo"_s,
                               u"Aoife"_s, u"Renée"_s, u"Noah"_s,  u"Émile"_s, u"Ingrid"_s, u"Łucja"_s,
                               u"Amir"_s,  u"Sofía"_s, u"Liam"_s,  u"Maëlle"_s};
const QStringList cTeachers {u"Mme Lefèvre"_s,      u"Mr Okafor"_s, u"Ms Åberg"_s,
                             u"Mr \"Doc\" Brown"_s, u"Mrs Żak"_s,   u"Mr Ito"_s};

QString subjectId(int i)
{
    return QString::number(2000000 + i * 7);
}

// Quoted as a school system's export quotes: the fields that need it.
QString field(const QString &text)
{
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u','))
        return text;
    return u'"' + QString(text).replace(u"\""_s, u"\"\""_s) + u'"';
}

// Eight columns: BOM, semicolons, CRLF, "Last, First" names in quotes, accents.
QString writeRoster(const QString &folder, int subjects)
{
    QRandomGenerator random(subjects);
    QString text = u"Student ID;Last Name;First Name;Full Name;Grade;Teacher;Homeroom;Birthdate\r\n"_s;
    for (int i = 0; i < subjects; ++i) {
        const QString last = cLastNames[random.bounded(cLastNames.size())];
        const QString first = cFirstNames[random.bounded(cFirstNames.size())];
        const int grade = 1 + random.bounded(12);
        const QStringList fields {subjectId(i),
                                  field(last),
                                  field(first),
                                  field(last + u", "_s + first),
                                  u"Grade "_s + QString::number(grade),
                                  field(cTeachers[random.bounded(cTeachers.size())]),
                                  QString::number(grade) + QChar(u'A' + random.bounded(4)),
                                  u"20%1-%2-%3"_s.arg(10 + random.bounded(10))
                                      .arg(1 + random.bounded(12), 2, 10, QChar(u'0'))
                                      .arg(1 + random.bounded(28), 2, 10, QChar(u'0'))};
        text += fields.join(u';') + u"\r\n"_s;
    }
    const QString path = folder + u"/roster-%1.csv"_s.arg(subjects);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("\xEF\xBB\xBF" + text.toUtf8()) < 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// 5,000 photos as filed on picture day: most subjects photographed two or three times,
// some not at all, a few codes misread.
void writePhotos(const QString &folder, int subjects, int photos)
{
    QDir().mkpath(folder);
    QRandomGenerator random(photos);
    for (int n = 1; n <= photos; ++n) {
        const QString id = n % 50 == 0 ? u"9%1"_s.arg(n) : subjectId(random.bounded(subjects));
        QFile file(folder + u"/%1_IMG_%2.JPG"_s.arg(id).arg(n, 4, 10, QChar(u'0')));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
}

// Milliseconds, the median of the rounds.
double medianMs(int rounds, const std::function<void()> &work)
{
    QList<double> times;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    // The cards' text needs fonts, hence a GUI application, never a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir work;
    if (!work.isValid())
        qFatal("no temporary folder");

    std::printf("%-34s %10s %10s %8s\n", "", "roster ms", "split ms", "ratio");
    for (const auto &[subjects, rounds] : {std::pair {1000, 21}, std::pair {10000, 9}}) {
        const QString path = writeRoster(work.path(), subjects);
        qsizetype loaded = 0;
        const double rosterMs = medianMs(rounds, [&] {
            const Roster roster = Roster::load(NativePath(path));
            if (roster.status() != Roster::Status::Loaded || !roster.problems().isEmpty())
                qFatal("the generated roster was not read whole: %s", qPrintable(roster.error()));
            loaded = roster.subjects().size();
        });
        qsizetype fields = 0;
        const double splitMs = medianMs(rounds, [&] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(path));
            fields = 0;
            const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
            for (const QString &line : lines)
                fields += line.split(u';').size();
        });
        std::printf("load %6lld subjects (%5lld KiB)      %10.2f %10.2f %7.1fx\n", qint64(loaded),
                    qint64(QFileInfo(path).size() / 1024), rosterMs, splitMs, rosterMs / splitMs);
        if (fields == 0)
            return 1;
    }

    const QString path = work.path() + u"/roster-10000.csv"_s;
    const Roster roster = Roster::load(NativePath(path));
    const QString photos = work.path() + u"/today"_s;
    writePhotos(photos, 10000, 5000);
    RosterReport report;
    const double reportMs = medianMs(7, [&] {
        report = RosterReport::make(roster, {{u"Today"_s, photos}, {u"Working folder"_s, work.path() + u"/none"_s}}, 1);
    });
    std::printf("report, 10000 subjects, 5000 photos %10.2f   (%d missing, %lld codes not on the roster)\n", reportMs,
                report.missingCount(), qint64(report.strays().size()));
    const double csvMs = medianMs(7, [&] { report.toCsv(); });
    const double textMs = medianMs(7, [&] { report.toText(); });
    std::printf("  as CSV %.2f ms, as text %.2f ms\n", csvMs, textMs);

    const Roster thousand = Roster::load(NativePath(work.path() + u"/roster-1000.csv"_s));
    for (const auto &[format, name] : {std::pair {CameraCardSheet::Format::Code128, "Code 128"},
                                       std::pair {CameraCardSheet::Format::DataMatrix, "Data Matrix"},
                                       std::pair {CameraCardSheet::Format::QrCode, "QR"}}) {
        CameraCardSheet::Options options;
        options.format = format;
        options.paper = QPageSize::A4;
        qsizetype bytes = 0;
        const double pdfMs = medianMs(3, [&] { bytes = CameraCardSheet::pdf(thousand, options).size(); });
        if (bytes == 0)
            qFatal("no card sheet was made");
        std::printf("card PDF, 1000 subjects, %-11s %10.2f   (%lld KiB, %lld pages)\n", name, pdfMs,
                    qint64(bytes / 1024), qint64(CameraCardSheet::layout(thousand.subjects().size(), options).size()));
    }
    return 0;
}
