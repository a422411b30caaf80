#include "mainwindow.h"

#include "preferencesdialog.h"
#include "progresstracker.h"
#include "welcomeexamplesview.h"

#include <coreplugin/helpmanager.h>
#include <coreplugin/progressmanager/futureprogress.h>
#include <extensionsystem/pluginmanager.h>
#include <extensionsystem/pluginspec.h>
#include <hoststandin/hostsetup.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Shell {

MainWindow::MainWindow(ProgressTracker *progress, QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(tr("Tidepool IDE"));
    m_examples = new WelcomeExamplesView(this);
    setCentralWidget(m_examples);
    resize(1100, 720);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("E&xit"), QKeySequence::Quit, qApp, &QApplication::closeAllWindows);
    QMenu *edit = menuBar()->addMenu(tr("&Edit"));
    QAction *preferences = edit->addAction(tr("Pr&eferences..."), QKeySequence::Preferences,
                                           this, [this] { showPreferences(); });
    preferences->setMenuRole(QAction::PreferencesRole);
    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("About &Plugins..."), this, &MainWindow::showPlugins);

    m_statusLabel = new QLabel(this);
    statusBar()->addWidget(m_statusLabel, 1);
    // Running tasks show their progress bars at the right of the status bar, as in the IDE; each
    // goes by itself a little after it has finished. A failed one leaves its reason behind.
    if (progress) {
        connect(progress, &ProgressTracker::taskAdded, this, [this](Core::FutureProgress *task) {
            statusBar()->addPermanentWidget(task);
            task->show();
        });
        connect(progress, &ProgressTracker::taskFinished, this,
                [this](const ProgressTracker::Result &result) {
                    if (result.failed) {
                        m_statusLabel->setText(result.subtitle.isEmpty()
                                                   ? result.title
                                                   : tr("%1: %2").arg(result.title,
                                                                      result.subtitle));
                    }
                });
    }
    connect(Core::HelpManager::Signals::instance(),
            &Core::HelpManager::Signals::documentationChanged, this, [this] {
                statusBar()->showMessage(tr("Examples updated."), 5000);
            });
    connect(m_examples, &WelcomeExamplesView::exampleOpened, this, &MainWindow::openExample);

    HostStandIn::setMainWindow(this);
    HostStandIn::setOptionsDialogProvider([](Utils::Id page, QWidget *parent) {
        PreferencesDialog dialog(parent);
        dialog.showPage(page);
        return dialog.exec() == QDialog::Accepted;
    });
}

MainWindow::~MainWindow()
{
    HostStandIn::setOptionsDialogProvider({});
    HostStandIn::setMainWindow(nullptr);
}

bool MainWindow::showPreferences(const QString &pageId)
{
    PreferencesDialog dialog(this);
    if (!pageId.isEmpty())
        dialog.showPage(Utils::Id::fromString(pageId));
    return dialog.exec() == QDialog::Accepted;
}

void MainWindow::showWorkDone(const QString &summary)
{
    m_statusLabel->setText(summary);
}

void MainWindow::openExample(const ExampleItem &item)
{
    // The shell has no project manager: it tells what the IDE would open.
    QStringList files;
    for (const QString &file : item.filesToOpen)
        files.append(QDir::toNativeSeparators(file));
    const QString text = tr("Project: %1\nFiles to open: %2")
                             .arg(QDir::toNativeSeparators(item.projectPath),
                                  files.isEmpty() ? tr("none") : files.join(QLatin1String(", ")));
    statusBar()->showMessage(tr("Opened %1").arg(item.name), 5000);
    auto box = new QMessageBox(QMessageBox::Information, tr("Open Example"), text,
                               QMessageBox::Ok, this);
    box->setInformativeText(item.name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::showPlugins()
{
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Installed Plugins"));
    auto tree = new QTreeWidget(&dialog);
    tree->setHeaderLabels({tr("Name"), tr("Version"), tr("State"), tr("File")});
    tree->setRootIsDecorated(false);
    for (const ExtensionSystem::PluginSpec *spec : ExtensionSystem::PluginManager::plugins()) {
        const QString state = spec->hasError() ? spec->errorString()
                                               : (spec->plugin() ? tr("Running") : tr("Loaded"));
        new QTreeWidgetItem(tree, {spec->name(), spec->version(), state,
                                   QDir::toNativeSeparators(spec->filePath())});
    }
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    auto buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto layout = new QVBoxLayout(&dialog);
    layout->addWidget(tree);
    layout->addWidget(buttons);
    dialog.resize(800, 300);
    dialog.exec();
}

} // namespace Shell
