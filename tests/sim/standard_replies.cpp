// The registry of the topics' reply sets. Unknown commands get a plain
// success frame (02 02 CMD 00), so a command needs replies only when they
// carry data or keep state.
#include "sim_scale.h"

#include <utility>
#include <vector>

namespace qv_sim {

namespace {

// Built on first use: registrations run during static initialisation.
std::vector<std::function<void(sim_scale&)>>& installers()
{
    static std::vector<std::function<void(sim_scale&)>> all;
    return all;
}

}  // namespace

replies_registration::replies_registration(std::function<void(sim_scale&)> install)
{
    installers().push_back(std::move(install));
}

void add_standard_replies(sim_scale& sim)
{
    for (const auto& install : installers()) install(sim);
}

}  // namespace qv_sim
