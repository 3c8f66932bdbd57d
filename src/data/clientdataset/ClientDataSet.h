#pragma once
// TClientDataSet: the class of the window's file datasets (ClientDataSet1, CDS_Main, CDS_Mast)
// and of its command dataset (ClientDataSet2). The behaviour is TCustomClientDataSet's
// (CustomClientDataSet.h); this header is the one callers include.

#include "data/clientdataset/CustomClientDataSet.h"

namespace tarnwick {

class TClientDataSet : public TCustomClientDataSet {
public:
    using TCustomClientDataSet::TCustomClientDataSet;
};

}  // namespace tarnwick
