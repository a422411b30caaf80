#include "notewindow.h"

#include <QListWidget>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QToolBar>

NoteWindow::NoteWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_titles(new QListWidget)
    , m_editor(new QPlainTextEdit)
{
    setWindowTitle(tr("Notes"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/128x128/notes.png")));
    auto splitter = new QSplitter;
    splitter->addWidget(m_titles);
    splitter->addWidget(m_editor);
    setCentralWidget(splitter);
    addToolBar(tr("Notes"))->addAction(tr("New Note"), this, &NoteWindow::addNote);

    m_notes = QSettings().value(QStringLiteral("notes")).toStringList();
    for (const QString &note : std::as_const(m_notes))
        m_titles->addItem(note.section(QLatin1Char('\n'), 0, 0));
    connect(m_titles, &QListWidget::currentRowChanged, this, &NoteWindow::showNote);
    if (!m_notes.isEmpty())
        m_titles->setCurrentRow(0);
}

NoteWindow::~NoteWindow()
{
    storeCurrent();
    QSettings().setValue(QStringLiteral("notes"), m_notes);
}

void NoteWindow::addNote()
{
    storeCurrent();
    m_notes.append(tr("New note"));
    m_titles->addItem(m_notes.last());
    m_titles->setCurrentRow(m_notes.size() - 1);
}

void NoteWindow::showNote(int row)
{
    storeCurrent();
    m_current = row;
    m_editor->setPlainText(row >= 0 ? m_notes.at(row) : QString());
}

void NoteWindow::storeCurrent()
{
    if (m_current < 0 || m_current >= m_notes.size())
        return;
    m_notes[m_current] = m_editor->toPlainText();
    m_titles->item(m_current)->setText(m_notes.at(m_current).section(QLatin1Char('\n'), 0, 0));
}
