#pragma once

#include <QMainWindow>

class QListWidget;
class QPlainTextEdit;

class NoteWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit NoteWindow(QWidget *parent = nullptr);
    ~NoteWindow() override;

private:
    void addNote();
    void showNote(int row);
    void storeCurrent();

    QListWidget *m_titles;
    QPlainTextEdit *m_editor;
    QStringList m_notes;
    int m_current = -1;
};
