#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <ctime>

namespace Bench {

// A 1 ms timer on the GUI thread. Each tick records how much later than 1 ms after the previous
// one it came: the time the GUI thread spent on something else and could not answer the user.
// It also records how much of that the GUI thread spent working itself, as opposed to waiting for
// a processor that other threads and processes had.
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
        m_work.clear();
        m_clock.start();
        m_last = 0;
        m_lastCpu = threadCpuNs();
        m_timer.start();
    }

    // The lateness of every tick, in milliseconds, the time up to now included.
    QList<double> stop()
    {
        tick();
        m_timer.stop();
        return m_samples;
    }

    // The GUI thread's own processor time between ticks, in milliseconds, after stop().
    QList<double> work() const { return m_work; }

private:
    void tick()
    {
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        m_samples.append(std::max(0.0, double(now - m_last) / 1e6 - 1.0));
        m_work.append(double(cpu - m_lastCpu) / 1e6);
        m_last = now;
        m_lastCpu = cpu;
    }

    static qint64 threadCpuNs()
    {
        timespec time{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
        return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    QList<double> m_samples;
    QList<double> m_work;
};

} // namespace Bench
