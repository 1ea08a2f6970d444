#include "common/uErrors.h"

QString ErrorMessage(const std::exception& AError) {
    if (const auto* app = dynamic_cast<const TAppError*>(&AError))
        return app->Message();
    return QString::fromUtf8(AError.what());
}
