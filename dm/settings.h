#pragma once

// The site's settings: what a site chooses when it installs the program (backend, server,
// driver, waits), read at start from one configuration and shown by --show-config.
#include "dm/error.h"

#include <QList>
#include <QString>
#include <optional>

namespace dm {

// One setting in effect and where it came from: "built in", "FILE:LINE", or the registry
// value the installer wrote.
struct Setting
{
    QString key;
    QString value;
    QString origin;
};

class Settings
{
public:
    // Every key with its built-in value.
    Settings();

    // Throws dm::Error for an unknown key.
    const Setting &get(const QString &key) const;
    QString value(const QString &key) const { return get(key).value; }
    int seconds(const QString &key) const { return value(key).toInt(); }
    const QList<Setting> &all() const { return m_settings; }

    // Checks the value as its key wants it; throws dm::Error with what is wrong (no place).
    void set(const QString &key, const QString &value, const QString &origin);
    bool isSet(const QString &key) const { return get(key).origin != builtIn(); }

    static QString builtIn();

    // The configuration that was read: a file, the registry key, or "" for none.
    QString source;

private:
    Setting &find(const QString &key);
    QList<Setting> m_settings;
};

// The site configuration read when no file is named: on Linux a file (normally
// /etc/salestotals/salestotals.conf), on Windows the registry key the installer writes.
QString siteConfiguration();

// The settings of the first of: `file`, the file SALESTOTALS_CONFIG names, the site
// configuration; keys it leaves out keep their built-in values. A missing site configuration
// is no error. Throws dm::Error naming the file and line of what is wrong, or why the file is
// not trusted.
Settings readSettings(const std::optional<QString> &file = std::nullopt);

// The process-wide settings: built in until loadSettings succeeds. A failed load keeps the
// built-in values and its message, which opening the company connection then reports.
const Settings &settings();
void useSettings(const Settings &settings);
// Returns false when the configuration is wrong (loadError() says why).
bool loadSettings(const std::optional<QString> &file = std::nullopt);
const QString &loadError();

// The lines of --show-config: every setting, where it came from, and the connection it makes.
QString describeSettings(const Settings &settings);

} // namespace dm
