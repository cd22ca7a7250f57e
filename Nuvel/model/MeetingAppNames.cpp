#include "Nuvel/model/MeetingAppNames.hpp"

namespace nuvel {

std::string displayName(MeetingApp app, const std::function<std::string(std::string_view)>& localize) {
    switch (app) {
    case MeetingApp::zoom:
        return "Zoom";
    case MeetingApp::teams:
        return "Microsoft Teams";
    case MeetingApp::webex:
        return "Webex";
    case MeetingApp::slack:
        return "Slack";
    case MeetingApp::facetime:
        return "FaceTime";
    case MeetingApp::browser:
        break;
    }
    return localize ? localize("Web browsers") : std::string("Web browsers");
}

} // namespace nuvel
