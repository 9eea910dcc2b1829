#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace pm {
class ProjectContext;
class ProjectDocument;
}  // namespace pm

namespace pm::ui {

// The editor's one open project: the project document with its file, sound and undo history,
// plus what the window shows of it (its name, whether it has unsaved changes). Failures return
// false with the reason, which names the file.
class CPanZoomDoc : public QObject {
    Q_OBJECT
public:
    explicit CPanZoomDoc(QObject* parent = nullptr);
    ~CPanZoomDoc() override;

    ProjectDocument& document() { return *m_document; }
    ProjectContext& context();

    void newDocument();
    bool open(const QString& path, QString* error);
    // Saves to the document's own file; a project never saved has none (use saveAs).
    bool save(QString* error);
    bool saveAs(const QString& path, QString* error);
    bool hasPath() const;
    QString path() const;
    // The file's name, or "Untitled" for a project never saved.
    QString title() const;
    bool modified() const;

    bool canUndo() const;
    bool canRedo() const;
    // The step's name for the menu, empty when there is none.
    QString undoName() const;
    QString redoName() const;
    bool undo();
    bool redo();

signals:
    // The project was replaced, saved, or changed in a way that may change the title or the mark.
    void stateChanged();

private:
    void markSaved();

    std::unique_ptr<ProjectDocument> m_document;
    std::uint64_t m_savedState = 0;
};

}  // namespace pm::ui
