#include "ui/shell/CPanZoomDoc.h"

#include <QFileInfo>

#include "core/ProjectContext.h"
#include "document/ProjectDocument.h"
#include "document/UndoHistory.h"

namespace pm::ui {

namespace {

QString reasonFor(const QString& path, const std::string& errors, const char* what) {
    const QString reason = QString::fromStdString(errors).trimmed();
    return QStringLiteral("%1 %2.%3")
        .arg(QString::fromUtf8(what), path, reason.isEmpty() ? QString() : "\n\n" + reason);
}

}  // namespace

CPanZoomDoc::CPanZoomDoc(QObject* parent)
    : QObject(parent), m_document(std::make_unique<ProjectDocument>()) {
    m_document->newProject();
    markSaved();
}

CPanZoomDoc::~CPanZoomDoc() = default;

ProjectContext& CPanZoomDoc::context() {
    return m_document->context();
}

void CPanZoomDoc::newDocument() {
    m_document->newProject();
    markSaved();
}

bool CPanZoomDoc::open(const QString& path, QString* error) {
    context().errors().clear();
    if (!m_document->open(path.toStdString())) {
        if (error != nullptr) {
            *error = reasonFor(path, context().errors().text(), "Could not open");
        }
        context().errors().clear();
        // Whatever the failed load left is not the user's project: start anew.
        m_document->newProject();
        markSaved();
        return false;
    }
    markSaved();
    return true;
}

bool CPanZoomDoc::save(QString* error) {
    if (!hasPath()) {
        if (error != nullptr) {
            *error = tr("The project has no file yet.");
        }
        return false;
    }
    return saveAs(path(), error);
}

bool CPanZoomDoc::saveAs(const QString& path, QString* error) {
    context().errors().clear();
    if (!m_document->save(path.toStdString())) {
        if (error != nullptr) {
            *error = reasonFor(path, context().errors().text(), "Could not save");
        }
        context().errors().clear();
        // The changes are still unsaved.
        emit stateChanged();
        return false;
    }
    markSaved();
    return true;
}

bool CPanZoomDoc::hasPath() const {
    return !m_document->path().empty();
}

QString CPanZoomDoc::path() const {
    return QString::fromStdString(m_document->path().string());
}

QString CPanZoomDoc::title() const {
    return hasPath() ? QFileInfo(path()).fileName() : tr("Untitled");
}

bool CPanZoomDoc::modified() const {
    return m_document->history().stateId() != m_savedState;
}

bool CPanZoomDoc::canUndo() const {
    return m_document->history().canUndo();
}

bool CPanZoomDoc::canRedo() const {
    return m_document->history().canRedo();
}

QString CPanZoomDoc::undoName() const {
    return QString::fromStdString(m_document->history().undoName().value_or(std::string()));
}

QString CPanZoomDoc::redoName() const {
    return QString::fromStdString(m_document->history().redoName().value_or(std::string()));
}

bool CPanZoomDoc::undo() {
    const bool done = m_document->history().undo();
    emit stateChanged();
    return done;
}

bool CPanZoomDoc::redo() {
    const bool done = m_document->history().redo();
    emit stateChanged();
    return done;
}

void CPanZoomDoc::markSaved() {
    m_savedState = m_document->history().stateId();
    emit stateChanged();
}

}  // namespace pm::ui
