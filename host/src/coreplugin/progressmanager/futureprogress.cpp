#include <coreplugin/progressmanager/futureprogress.h>

#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace Core {

// How long a finished task stays visible before it asks to be removed.
static const int finishedVisibleMs = 2000;

class FutureProgressPrivate
{
public:
    QFutureWatcher<void> watcher;
    // Qt passes at most 25 progress changes a second on to watchers and drops the others; the
    // bar reads the future's latest value now and then, so it never stays behind for long.
    QTimer refresh;
    QLabel *title = nullptr;
    QLabel *subtitle = nullptr;
    QProgressBar *bar = nullptr;
    QToolButton *cancelButton = nullptr;
    Utils::Id type;
    FutureProgress::KeepOnFinishType keep = FutureProgress::HideOnFinish;
    bool finished = false;
    bool error = false;
};

FutureProgress::FutureProgress(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<FutureProgressPrivate>())
{
    d->title = new QLabel(this);
    d->subtitle = new QLabel(this);
    d->subtitle->hide();
    d->bar = new QProgressBar(this);
    d->bar->setRange(0, 0);
    d->bar->setTextVisible(true);
    d->bar->setFormat(QStringLiteral("%v/%m"));
    d->bar->setMaximumWidth(160);
    d->cancelButton = new QToolButton(this);
    d->cancelButton->setText(QStringLiteral("\u00d7"));
    d->cancelButton->setAutoRaise(true);
    d->cancelButton->setToolTip(tr("Cancel"));

    auto texts = new QVBoxLayout;
    texts->setContentsMargins(0, 0, 0, 0);
    texts->setSpacing(0);
    texts->addWidget(d->title);
    texts->addWidget(d->subtitle);
    auto layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->addLayout(texts);
    layout->addWidget(d->bar);
    layout->addWidget(d->cancelButton);

    connect(d->cancelButton, &QToolButton::clicked, this, &FutureProgress::cancel);
    connect(&d->watcher, &QFutureWatcherBase::finished, this, &FutureProgress::setFinished);
    connect(&d->watcher, &QFutureWatcherBase::canceled, this, &FutureProgress::canceled);
    connect(&d->watcher, &QFutureWatcherBase::progressRangeChanged, this,
            &FutureProgress::updateProgress);
    connect(&d->watcher, &QFutureWatcherBase::progressValueChanged, this,
            &FutureProgress::updateProgress);
    connect(&d->watcher, &QFutureWatcherBase::progressTextChanged, this,
            &FutureProgress::updateProgress);
    d->refresh.setInterval(250);
    connect(&d->refresh, &QTimer::timeout, this, &FutureProgress::updateProgress);
}

FutureProgress::~FutureProgress() = default;

void FutureProgress::setTitle(const QString &title)
{
    d->title->setText(title);
}

QString FutureProgress::title() const
{
    return d->title->text();
}

void FutureProgress::setSubtitle(const QString &subtitle)
{
    if (subtitle == d->subtitle->text())
        return;
    d->subtitle->setText(subtitle);
    d->subtitle->setVisible(!subtitle.isEmpty());
    emit subtitleInStatusBarChanged();
}

QString FutureProgress::subtitle() const
{
    return d->subtitle->text();
}

void FutureProgress::setType(Utils::Id type)
{
    d->type = type;
}

Utils::Id FutureProgress::type() const
{
    return d->type;
}

void FutureProgress::setKeepOnFinish(KeepOnFinishType keepType)
{
    d->keep = keepType;
}

bool FutureProgress::keepOnFinish() const
{
    return d->keep != HideOnFinish;
}

bool FutureProgress::hasError() const
{
    return d->error;
}

void FutureProgress::setFuture(const QFuture<void> &future)
{
    d->watcher.setFuture(future);
    updateProgress();
    if (!future.isFinished())
        d->refresh.start();
}

QFuture<void> FutureProgress::future() const
{
    return d->watcher.future();
}

void FutureProgress::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        emit clicked();
        if (d->finished && d->keep == KeepOnFinishTillUserInteraction)
            emit removeMe();
    }
    QWidget::mousePressEvent(event);
}

void FutureProgress::cancel()
{
    d->watcher.future().cancel();
}

void FutureProgress::updateProgress()
{
    const QFuture<void> future = d->watcher.future();
    d->bar->setRange(future.progressMinimum(), future.progressMaximum());
    d->bar->setValue(future.progressValue());
    setToolTip(future.progressText());
}

void FutureProgress::setFinished()
{
    if (d->finished)
        return;
    d->finished = true;
    d->refresh.stop();
    updateProgress();
    // A task that shows no steps still ends as a full bar.
    if (d->bar->maximum() == 0)
        d->bar->setRange(0, 1);
    d->bar->setValue(d->bar->maximum());
    d->cancelButton->setEnabled(false);
    if (d->watcher.future().isCanceled()) {
        d->error = true;
        QPalette palette = d->bar->palette();
        palette.setColor(QPalette::Highlight, QColor(0xc0, 0x30, 0x30));
        d->bar->setPalette(palette);
        emit hasErrorChanged();
    }
    emit finished();
    if (d->keep == HideOnFinish)
        QTimer::singleShot(finishedVisibleMs, this, &FutureProgress::removeMe);
}

} // namespace Core
