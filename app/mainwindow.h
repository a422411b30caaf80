#pragma once

#include <QMainWindow>

QT_BEGIN_NAMESPACE
class QLabel;
QT_END_NAMESPACE

namespace Shell {

class ProgressTracker;
class WelcomeExamplesView;
struct ExampleItem;

// The IDE's main window, reduced to what the shell needs: the Welcome screen's examples,
// Edit > Preferences, and a status bar that shows what the plugins report.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(ProgressTracker *progress, QWidget *parent = nullptr);
    ~MainWindow() override;

    WelcomeExamplesView *examplesView() const { return m_examples; }
    bool showPreferences(const QString &pageId = {});
    void showWorkDone(const QString &summary);

private:
    void openExample(const ExampleItem &item);
    void showPlugins();

    WelcomeExamplesView *m_examples = nullptr;
    QLabel *m_statusLabel = nullptr;
};

} // namespace Shell
