#pragma once

#include "core_global.h"

#include <utils/filepath.h>
#include <utils/id.h>
#include <utils/qtcsettings.h>

#include <QObject>
#include <QSettings>

QT_BEGIN_NAMESPACE
class QMainWindow;
class QWidget;
QT_END_NAMESPACE

namespace Core {

// The IDE's central access point: settings, resource folders, the main window and the options
// dialog.
class CORE_EXPORT ICore : public QObject
{
    Q_OBJECT

public:
    static ICore *instance();

    static Utils::QtcSettings *settings(QSettings::Scope scope = QSettings::UserScope);

    static Utils::FilePath resourcePath(const QString &rel = {});
    static Utils::FilePath userResourcePath(const QString &rel = {});

    // The widget a dialog should be parented to: the active modal widget, else the active window,
    // else the main window.
    static QWidget *dialogParent();
    static QMainWindow *mainWindow();

    static bool showOptionsDialog(const Utils::Id page, QWidget *parent = nullptr);
    static QString msgShowOptionsDialog();

signals:
    void coreAboutToClose();

private:
    ICore();
    ~ICore() override;
};

} // namespace Core
