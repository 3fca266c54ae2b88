#include "launcher/bundle_module.h"

#include "launcher/embedded_bundle.h"
#include "launcher/resource_list.h"

void RegisterEmbeddedBundle() {
  Resources().Add("quintabelprincipal", "ZIP", {{qb_bundle_data, EmbeddedBundleSize()}});
}
