// The AVX2 kernel table, gathered from the families' files. Not itself
// compiled for AVX2: kernels_generic.cpp asks the processor first.
#include "kernels_avx2.h"

#ifdef TARVEX_HAS_AVX2_KERNELS
namespace tarvex::raster::detail {

const Kernels& avx2KernelTable()
{
    using namespace avx2;
    static const Kernels kernels{copyRow, mirrorRow,  up2Row, down2Row,    gatherRow,    blendRow,
                                 keyRow,  overRow,    softKeyRow, fence, reduceRowAt, packBgr24Row,
                                 unpackBgr24Row, transposeBlock};
    return kernels;
}

}  // namespace tarvex::raster::detail
#endif
