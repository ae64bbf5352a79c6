#include "dm/settings.h"

#include "dm/connection.h"
#include "dm/fdm.h"
#include "salestotals_build_defaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>
#include <algorithm>
#include <functional>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace dm {

namespace {

const char *const RegistryKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\salestotals";

void noConnectionKeys(const QString &value)
{
    for (const QChar c : {u';', u'{', u'}', u'='})
        if (value.contains(c))
            throw Error(QStringLiteral("'%1' holds '%2', which would add keys to the "
                                       "connection string")
                            .arg(value, c));
}

void wholeSeconds(const QString &value)
{
    const bool digits =
        !value.isEmpty() && value.size() <= 6 &&
        std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (!digits)
        throw Error(
            QStringLiteral("'%1' is not a whole number of seconds (0 to 999999)").arg(value));
}

struct KeyDef
{
    const char *key;
    QString builtIn;
    std::function<void(const QString &)> check;
};

// The build's own choices (CMake cache values) are the defaults.
const QList<KeyDef> &keyDefs()
{
    static const QList<KeyDef> defs = [] {
        const bool sqlServer = QLatin1String(SALESTOTALS_DATABASE) == QLatin1String("sqlserver");
        const QString source = QStringLiteral(SALESTOTALS_DATA_SOURCE);
        QList<KeyDef> d;
        d.append(
            {"backend", QStringLiteral(SALESTOTALS_DATABASE), [](const QString &v) {
                 if (v != QLatin1String("embedded") && v != QLatin1String("sqlserver"))
                     throw Error(
                         QStringLiteral("unknown backend '%1' (embedded or sqlserver)").arg(v));
             }});
        d.append({"server", sqlServer ? source : QString(), [](const QString &v) {
                      noConnectionKeys(v);
                      // Most likely a comment after the value, which the file does not know.
                      if (v.contains(u' ') || v.contains(u'\t') || v.contains(u'#'))
                          throw Error(QStringLiteral("'%1' is no host name (comments go on lines "
                                                     "of their own)")
                                          .arg(v));
                  }});
        d.append({"database_file", sqlServer ? QStringLiteral("QVT.sqlite") : source,
                  [](const QString &v) {
                      if (v.contains(u';'))
                          throw Error(QStringLiteral("a database file name may not hold ';'"));
                  }});
        d.append({"odbc_driver", QStringLiteral(SALESTOTALS_ODBC_DRIVER), noConnectionKeys});
        d.append(
            {"odbc_options", QStringLiteral(SALESTOTALS_ODBC_OPTIONS), [](const QString &) {}});
        d.append({"run_lock_wait", QStringLiteral(SALESTOTALS_RUN_LOCK_WAIT), wholeSeconds});
        // An ERP posting holds its rows for seconds; a lock held for a minute is a session left
        // open, and waiting on for it would keep every other run out behind this one's lock.
        d.append({"lock_timeout", QStringLiteral("60"), wholeSeconds});
        // A safety net only: a year's batch at a large site takes minutes; a statement still
        // going after half an hour waits for something no lock timeout ends.
        d.append({"query_timeout", QStringLiteral("1800"), wholeSeconds});
        return d;
    }();
    return defs;
}

const KeyDef *keyDef(const QString &key)
{
    for (const KeyDef &def : keyDefs())
        if (key == QLatin1String(def.key))
            return &def;
    return nullptr;
}

// FreeTDS wants a fixed protocol version (its "auto" retries a silent server with an older one
// and waits again) and UTF-8 texts whatever the locale; Microsoft's drivers need nothing.
QString optionsFor(const QString &driver)
{
    return driver.contains(QLatin1String("FreeTDS"), Qt::CaseInsensitive)
               ? QStringLiteral("TDS_Version=7.4;ClientCharset=UTF-8")
               : QString();
}

[[noreturn]] void fail(const QString &place, const QString &what)
{
    throw Error(QStringLiteral("%1: %2").arg(place, what));
}

#ifndef Q_OS_WIN
// A configuration chooses the server the service's Kerberos login goes to: nobody but its
// owner and root may be able to change it, nor replace it in its folder.
void checkTrusted(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    for (const QString &p : {path, folder}) {
        struct stat st;
        if (::stat(QFile::encodeName(p).constData(), &st) != 0)
            return; // reading it reports the failure
        const bool isFolder = p == folder;
        const QString what =
            isFolder ? QStringLiteral("its folder %1").arg(p) : QStringLiteral("the file");
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            fail(path, QStringLiteral("not trusted: %1 belongs to user %2, neither root nor "
                                      "the user running this program")
                           .arg(what)
                           .arg(st.st_uid));
        const bool sticky = isFolder && (st.st_mode & S_ISVTX);
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && !sticky)
            fail(path, QStringLiteral("not trusted: others than its owner can write %1 "
                                      "(mode %2); make it writable by its owner only")
                           .arg(what)
                           .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    }
}
#endif

QString decodeLine(const QByteArray &bytes, const QString &place)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        fail(place, QStringLiteral("bytes that are not UTF-8"));
    return text;
}

// "key = value" lines; blank lines and lines starting with '#' say nothing.
void readFile(Settings &settings, const QString &path)
{
#ifndef Q_OS_WIN
    checkTrusted(path);
#endif
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(path, QStringLiteral("cannot be read: %1").arg(file.errorString()));
    if (bytes.startsWith("\xEF\xBB\xBF")) // Notepad's byte order mark
        bytes.remove(0, 3);
    QHash<QString, int> seen;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i) + 1;
        const QString place = QStringLiteral("%1:%2").arg(path).arg(number);
        const QString line = decodeLine(lines[i], place).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            fail(place, QStringLiteral("not a 'key = value' line: '%1'").arg(line));
        const QString key = line.left(eq).trimmed();
        if (!keyDef(key))
            fail(place, QStringLiteral("unknown key '%1'").arg(key));
        if (seen.contains(key))
            fail(place, QStringLiteral("'%1' is given twice (first on line %2)")
                            .arg(key)
                            .arg(seen.value(key)));
        seen.insert(key, number);
        try {
            settings.set(key, line.mid(eq + 1).trimmed(), place);
        } catch (const Error &e) {
            fail(place, QStringLiteral("%1: %2").arg(key, e.message()));
        }
    }
}

#ifdef Q_OS_WIN
// The installer writes one string value per key it was given.
void readRegistry(Settings &settings)
{
    QSettings registry(QString::fromLatin1(RegistryKey), QSettings::NativeFormat);
    for (const QString &name : registry.childKeys()) {
        const QString place = QStringLiteral("%1, value %2").arg(siteConfiguration(), name);
        const QString key = name.toLower();
        if (!keyDef(key))
            fail(place, QStringLiteral("unknown value '%1'").arg(name));
        try {
            settings.set(key, registry.value(name).toString().trimmed(), place);
        } catch (const Error &e) {
            fail(place, e.message());
        }
    }
}
#endif

// What the keys only mean together.
void checkTogether(Settings &settings)
{
    if (!settings.isSet(QStringLiteral("odbc_options"))) {
        const Setting &driver = settings.get(QStringLiteral("odbc_driver"));
        if (driver.origin != Settings::builtIn() || !SALESTOTALS_ODBC_OPTIONS_GIVEN)
            settings.set(QStringLiteral("odbc_options"), optionsFor(driver.value),
                         QStringLiteral("built in for the driver %1").arg(driver.value));
    }
    const Setting &backend = settings.get(QStringLiteral("backend"));
    if (backend.value != QLatin1String("sqlserver"))
        return;
    for (const char *key : {"server", "odbc_driver"}) {
        const Setting &s = settings.get(QString::fromLatin1(key));
        if (s.value.isEmpty())
            fail(s.origin == Settings::builtIn() ? backend.origin : s.origin,
                 QStringLiteral("backend sqlserver needs a %1, and it is empty")
                     .arg(QString::fromLatin1(key)));
    }
}

Settings &current()
{
    static Settings settings;
    return settings;
}

QString &currentError()
{
    static QString error;
    return error;
}

} // namespace

Settings::Settings()
{
    for (const KeyDef &def : keyDefs())
        m_settings.append({QString::fromLatin1(def.key), def.builtIn, builtIn()});
}

QString Settings::builtIn()
{
    return QStringLiteral("built in");
}

Setting &Settings::find(const QString &key)
{
    for (Setting &s : m_settings)
        if (s.key == key)
            return s;
    throw Error(QStringLiteral("unknown setting '%1'").arg(key));
}

const Setting &Settings::get(const QString &key) const
{
    return const_cast<Settings *>(this)->find(key);
}

void Settings::set(const QString &key, const QString &value, const QString &origin)
{
    Setting &s = find(key);
    if (const KeyDef *def = keyDef(key); def && def->check)
        def->check(value);
    s.value = value;
    s.origin = origin;
}

QString siteConfiguration()
{
#ifdef Q_OS_WIN
    return QString::fromLatin1(RegistryKey);
#else
    return QStringLiteral(SALESTOTALS_SITE_CONFIG);
#endif
}

Settings readSettings(const std::optional<QString> &file)
{
    Settings settings;
    const QString fromEnvironment = qEnvironmentVariable("SALESTOTALS_CONFIG");
    if (file) {
        settings.source = *file;
    } else if (!fromEnvironment.isEmpty()) {
        settings.source = fromEnvironment;
    } else {
#ifdef Q_OS_WIN
        if (QSettings(QString::fromLatin1(RegistryKey), QSettings::NativeFormat).childKeys().size())
            settings.source = siteConfiguration();
        readRegistry(settings);
#else
        if (QFileInfo::exists(siteConfiguration()))
            settings.source = siteConfiguration();
#endif
    }
#ifdef Q_OS_WIN
    if (settings.source != siteConfiguration() && !settings.source.isEmpty())
#else
    if (!settings.source.isEmpty())
#endif
        readFile(settings, settings.source);
    checkTogether(settings);
    return settings;
}

const Settings &settings()
{
    return current();
}

void useSettings(const Settings &settings)
{
    current() = settings;
    currentError().clear();
}

bool loadSettings(const std::optional<QString> &file)
{
    try {
        useSettings(readSettings(file));
        return true;
    } catch (const Error &e) {
        current() = Settings();
        currentError() = e.message();
        return false;
    }
}

const QString &loadError()
{
    return currentError();
}

QString describeSettings(const Settings &settings)
{
    QString text =
        settings.source.isEmpty()
            ? QStringLiteral("configuration: none (%1 does not exist)\n")
                  .arg(QDir::toNativeSeparators(siteConfiguration()))
            : QStringLiteral("configuration: %1\n").arg(QDir::toNativeSeparators(settings.source));
    qsizetype width = 0;
    for (const Setting &s : settings.all())
        width = std::max(width, s.key.size() + 3 + s.value.size());
    for (const Setting &s : settings.all())
        text += QStringLiteral("%1 = %2").arg(s.key, s.value).leftJustified(width) +
                QStringLiteral("  # %1\n").arg(s.origin);
    const QString company = companyConnectionString(
        settings.value(QStringLiteral("backend")) == QLatin1String("sqlserver")
            ? settings.value(QStringLiteral("server"))
            : settings.value(QStringLiteral("database_file")));
    text += QStringLiteral("\nconnection string: %1\n").arg(company);
    if (settings.value(QStringLiteral("backend")) == QLatin1String("sqlserver"))
        text += QStringLiteral("ODBC connection: %1\n")
                    .arg(odbcConnectString(company, settings.value(QStringLiteral("odbc_driver")),
                                           settings.value(QStringLiteral("odbc_options"))));
    else
        text += QStringLiteral("database file: %1\n")
                    .arg(QDir::toNativeSeparators(
                        embeddedDatabasePath(settings.value(QStringLiteral("database_file")))));
    return text;
}

} // namespace dm
