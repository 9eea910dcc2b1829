#include "ui/framework/ChangeHubAdaptor.h"

#include "core/ProjectContext.h"

namespace pm::ui {

ChangeHubAdaptor::ChangeHubAdaptor(ProjectContext& context, QObject* parent)
    : QObject(parent), m_context(context) {
    m_context.addListener(this);
}

ChangeHubAdaptor::~ChangeHubAdaptor() {
    m_context.removeListener(this);
}

std::int32_t ChangeHubAdaptor::onChange(std::uint32_t code, ChangeArgument argument) {
    switch (code) {
        case kChangeProjectReplaced:
            emit projectReplaced();
            break;
        case kChangeProject:
            emit projectChanged();
            break;
        case kChangeScene:
            emit sceneChanged();
            break;
        case kChangeCurrentScene:
            emit currentSceneChanged();
            break;
        case kChangeCursor:
            // The argument is the address of the new normalized time, valid during the broadcast.
            emit cursorMoved(argument != 0 ? *reinterpret_cast<const float*>(argument) : 0.0f);
            break;
        case kChangeKeyValues:
        case kChangeKeyTangents:
        case kChangeKeys:
        case kChangeKeyModes:
            emit keysChanged(static_cast<unsigned>(argument));
            break;
        case kChangeMarkers:
            emit markersChanged();
            break;
        default:
            break;
    }
    emit changed();
    return 0;
}

}  // namespace pm::ui
