#pragma once

namespace keepframe::bench {

void analysisBench();
void facesBench();

}  // namespace keepframe::bench
