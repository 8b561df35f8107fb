#pragma once

namespace keepframe::bench {

void analysisBench();
void facesBench();
void clusteringBench();
void storeBench();
void enhanceBench();
void enhanceJobsBench();
void selectionBench();
void cameraBench();
void rawBench();
void scaleBench();

}  // namespace keepframe::bench
