#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>

namespace Bench {

// A 1 ms timer on the GUI thread. Each tick records how much later than 1 ms after the previous
// one it came: the time the GUI thread spent on something else and could not answer the user.
class GuiProbe
{
public:
    GuiProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }

    void start()
    {
        m_samples.clear();
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }

    // The lateness of every tick, in milliseconds, the time up to now included.
    QList<double> stop()
    {
        tick();
        m_timer.stop();
        return m_samples;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_samples.append(std::max(0.0, double(now - m_last) / 1e6 - 1.0));
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    QList<double> m_samples;
};

} // namespace Bench
