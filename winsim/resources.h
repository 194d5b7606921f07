// The executable's own resources: the payload files registered as RT_RCDATA
// under language 0x0411 at every reset, as the build embeds them.
#pragma once

#include <string>

namespace winsim {

// The executable carries no RT_RCDATA resource of that id.
void RemoveResource(int id);
// The RT_RCDATA resource of that id holds these bytes instead.
void SetResource(int id, const std::string& bytes);

}  // namespace winsim
