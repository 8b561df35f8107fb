#pragma once

namespace keepframe::bench {

void analysisBench();

}  // namespace keepframe::bench
