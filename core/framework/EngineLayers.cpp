#include "core/framework/EngineLayers.h"

namespace cloakline {

namespace {
IEngineLayers* gEngineLayers = nullptr;
}

IEngineLayers* GlobalEngineLayers() {
    return gEngineLayers;
}

void SetGlobalEngineLayers(IEngineLayers* layers) {
    gEngineLayers = layers;
}

}  // namespace cloakline
