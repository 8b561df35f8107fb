#pragma once

namespace keepframe::bench {

void analysisBench();
void facesBench();
void clusteringBench();

}  // namespace keepframe::bench
