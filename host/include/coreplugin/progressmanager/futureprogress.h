#pragma once

#include <coreplugin/core_global.h>

#include <utils/id.h>

#include <QFuture>
#include <QWidget>

#include <memory>

namespace Core {

class FutureProgressPrivate;

// The progress bar of one task of the ProgressManager: title, optional subtitle, the future's
// progress and a cancel button. A future that ends canceled is shown as failed.
class CORE_EXPORT FutureProgress : public QWidget
{
    Q_OBJECT

public:
    enum KeepOnFinishType {
        HideOnFinish = 0,
        KeepOnFinishTillUserInteraction = 1,
        KeepOnFinish = 2
    };

    explicit FutureProgress(QWidget *parent = nullptr);
    ~FutureProgress() override;

    void setTitle(const QString &title);
    QString title() const;

    void setSubtitle(const QString &subtitle);
    QString subtitle() const;

    void setType(Utils::Id type);
    Utils::Id type() const;

    void setKeepOnFinish(KeepOnFinishType keepType);
    bool keepOnFinish() const;

    bool hasError() const;

    void setFuture(const QFuture<void> &future);
    QFuture<void> future() const;

signals:
    void clicked();
    void finished();
    void canceled();
    void removeMe();
    void hasErrorChanged();
    void subtitleInStatusBarChanged();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void cancel();
    void setFinished();
    void updateProgress();

    std::unique_ptr<FutureProgressPrivate> d;
};

} // namespace Core
