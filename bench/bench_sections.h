#pragma once

namespace keepframe::bench {

void analysisBench();
void facesBench();
void clusteringBench();
void storeBench();

}  // namespace keepframe::bench
