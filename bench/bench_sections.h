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
void scaleBench();
void graphOptimizationBench();
void rawConversionBench();

}  // namespace keepframe::bench
