#include "viewer/view/driven.h"

#include <atomic>

namespace zv::viewer::view {

namespace {
std::atomic<bool> g_driven{false};
}

void SetDrivenThroughExports() { g_driven = true; }
bool DrivenThroughExports() { return g_driven; }
void ClearDrivenThroughExportsForTest() { g_driven = false; }

}  // namespace zv::viewer::view
