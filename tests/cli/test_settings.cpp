// The configuration salestotals-batch reads: where each setting comes from, and every kind of
// wrong file refused with its place, before any database is touched.
#include "program.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString write(const QString &path, const QByteArray &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

// The one line on standard error, without the program's name.
QString refusal(const Outcome &o)
{
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.lines.isEmpty());
    EXPECT_EQ(o.err.count(u'\n'), 1) << o.err.toStdString();
    return o.err.section(QLatin1String("salestotals-batch: "), 1).trimmed();
}

} // namespace

TEST(Settings, EachWrongFileIsRefusedWithItsLine)
{
    const struct
    {
        QByteArray text;
        int line;
        const char *what;
    } cases[] = {
        {"# site\nsever = erp01\n", 2, "unknown key 'sever'"},
        {"server = erp01\nbackend = sqlserver\nserver = erp02\n", 3,
         "'server' is given twice (first on line 1)"},
        {"backend = oracle\n", 1, "unknown backend 'oracle' (embedded or sqlserver)"},
        {"backend = sqlserver\nserver =\n", 2, "backend sqlserver needs a server, and it is empty"},
        {"backend = sqlserver\n", 1, "backend sqlserver needs a server, and it is empty"},
        {"run_lock_wait = 2.5\n", 1, "run_lock_wait: '2.5' is not a whole number of seconds"},
        {"\n\nserver erp01\n", 3, "not a 'key = value' line: 'server erp01'"},
        {"server = erp\xff"
         "01\n",
         1, "bytes that are not UTF-8"},
        {"server = erp01;UID=sa\n", 1, "holds ';', which would add keys to the connection string"},
        {"odbc_driver = {FreeTDS}\n", 1, "holds '{', which would add keys"},
        {"server = erp01=x\n", 1, "holds '=', which would add keys"},
        {"server = erp01   # the ERP\n", 1, "'erp01   # the ERP' is no host name"},
    };
    QTemporaryDir dir;
    for (const auto &c : cases) {
        const Program program(c.text.constData(), dir.path());
        const QString said = refusal(program.run({QStringLiteral("--show-config")}));
        const QString place = QStringLiteral("%1:%2: ").arg(program.configPath()).arg(c.line);
        EXPECT_TRUE(said.startsWith(place) && said.contains(QLatin1String(c.what)))
            << said.toStdString() << "\n  wanted " << place.toStdString() << "... " << c.what;
        QFile::remove(program.path());
    }
    // A run stops there as well, without looking for its database.
    const Program wrong("sever = erp01\n", dir.path());
    EXPECT_TRUE(refusal(wrong.run({"--year", "2024", "--month", "6", "--week", "23"}))
                    .endsWith(QLatin1String(":1: unknown key 'sever'")));
    // A script reading JSON Lines gets it in the closing object.
    const Outcome json = wrong.run({"--json"});
    EXPECT_EQ(json.status, 2);
    ASSERT_EQ(json.lines.size(), 1);
    EXPECT_TRUE(json.lines[0].contains(QLatin1String("\"exit_status\":2")) &&
                json.lines[0].contains(QLatin1String(":1: unknown key 'sever'")))
        << json.lines[0].toStdString();
    QFile::remove(wrong.path());
    // A file that cannot be read, named by --config.
    const Program program(Embedded, dir.path());
    for (const QString &unreadable : {dir.path(), dir.filePath(QStringLiteral("missing.conf"))})
        EXPECT_TRUE(refusal(program.run({QStringLiteral("--config"), unreadable}))
                        .startsWith(unreadable + QStringLiteral(": cannot be read")));
}

// The file chooses the server that the service's Kerberos login goes to.
TEST(Settings, FileOthersCanWriteIsNotTrusted)
{
    QTemporaryDir dir;
    const Program program(Embedded, dir.path());
    const QString open = write(dir.filePath(QStringLiteral("open.conf")), "server = erp01\n");
    QFile::setPermissions(open, QFileDevice::Permissions(0x6666));
    EXPECT_TRUE(refusal(program.run({QStringLiteral("--config"), open}))
                    .startsWith(open + QStringLiteral(": not trusted: others than its owner "
                                                      "can write the file (mode 0666)")));

    QTemporaryDir shared;
    const QString inShared = write(shared.filePath(QStringLiteral("site.conf")), "server = x\n");
    QFile::setPermissions(shared.path(), QFileDevice::Permissions(0x7777));
    EXPECT_TRUE(refusal(program.run({QStringLiteral("--config"), inShared}))
                    .contains(QStringLiteral("others than its owner can write its folder %1 "
                                             "(mode 0777)")
                                  .arg(shared.path())));
}

// --config before SALESTOTALS_CONFIG, keys left out built in, and the connection that follows.
TEST(Settings, ShowConfigSaysWhereEachSettingCameFrom)
{
    QTemporaryDir dir;
    const Program program("server = from-the-environment\n", dir.path());
    const QString given = write(dir.filePath(QStringLiteral("given.conf")),
                                "# the test site\nbackend = sqlserver\nserver = erp01,14330\n"
                                "run_lock_wait = 600\n");
    const Outcome o =
        program.run({QStringLiteral("--show-config"), QStringLiteral("--config"), given});
    EXPECT_EQ(o.status, 0) << o.err.toStdString();
    EXPECT_TRUE(o.err.isEmpty());
    const QString shown = o.lines.join(u'\n');
    for (const QString &line :
         {QStringLiteral("backend = sqlserver .*# %1:2$").arg(QRegularExpression::escape(given)),
          QStringLiteral("server = erp01,14330 .*# %1:3$").arg(QRegularExpression::escape(given)),
          QStringLiteral("run_lock_wait = 600 .*# %1:4$").arg(QRegularExpression::escape(given)),
          QStringLiteral("odbc_driver = FreeTDS .*# built in$"),
          QStringLiteral("odbc_options = TDS_Version=7.4;ClientCharset=UTF-8 .*# built in for "
                         "the driver FreeTDS$"),
          QStringLiteral("^ODBC connection: DRIVER=\\{FreeTDS\\};SERVER=erp01;PORT=14330;"
                         "DATABASE=QVT;Trusted_Connection=Yes;TDS_Version=7.4;"
                         "ClientCharset=UTF-8$")})
        EXPECT_TRUE(shown.contains(QRegularExpression(line, QRegularExpression::MultilineOption)))
            << line.toStdString() << " in\n"
            << shown.toStdString();

    const Outcome env = program.run({QStringLiteral("--show-config")});
    EXPECT_EQ(env.status, 0);
    EXPECT_TRUE(env.lines.join(u'\n').contains(
        QRegularExpression(QStringLiteral("server = from-the-environment +# %1:1\n")
                               .arg(QRegularExpression::escape(program.configPath())))))
        << env.lines.join(u'\n').toStdString();
    EXPECT_TRUE(env.lines.contains(QStringLiteral("database file: ") +
                                   QDir(dir.path()).filePath(QStringLiteral("QVT.sqlite"))))
        << env.lines.join(u'\n').toStdString();
}
