// Every code the engine raises, in one table: its name, the module it is
// stored under, its value and what it means in words. General codes have the
// top bit set and are stored under module 0; the others are small numbers that
// mean something only beside their module's id. error.h turns the table into
// the constants, and ErrorMeaning reads the words from it.
#pragma once

// X(name, value, words)
#define KV_GENERAL_ERRORS(X)                                                                           \
    X(kErrNoError, 0x80000000u, "no error")                                                            \
    X(kErrEngineState, 0x80000001u, "the engine is in the wrong state")                                \
    X(kErrFileOpen, 0x80000002u, "the file could not be opened")                                       \
    X(kErrBadCombine, 0x80000003u, "invalid matrix combine or transform type")                         \
    X(kErrBadVersion, 0x80000004u, "chunk version not supported")                                      \
    X(kErrFileDepth, 0x80000008u, "image depth not supported by the file format")                      \
    X(kErrConvertDepth, 0x80000009u, "image or raster conversion not supported")                       \
    X(kErrRasterFormat, 0x8000000Du, "raster format not supported by the device")                      \
    X(kErrMipLevel, 0x8000000Fu, "mip level smaller than one pixel")                                   \
    X(kErrNoMemory, 0x80000013u, "out of memory")                                                      \
    X(kErrNullArgument, 0x80000016u, "invalid (null) argument")                                        \
    X(kErrPluginWhileOpen, 0x80000017u, "plug-in registered while the engine is open")                 \
    X(kErrNotReady, 0x80000018u, "not ready: the module is not started or the plug-in not registered") \
    X(kErrEndOfStream, 0x8000001Au, "the stream ended before the expected data")                       \
    X(kErrWriteFailed, 0x8000001Cu, "writing failed")                                                  \
    X(kErrMaterialGrouping, 0x8000001Du, "vertices not grouped by material")                           \
    X(kErrNameTooLong, 0x8000001Eu, "name too long")                                                   \
    /* An argument outside the range the operation accepts (a null one keeps kErrNullArgument). */     \
    X(kErrOutOfRange, 0x80000020u, "argument out of range")

// The ids of the modules that raise codes of their own.
#define KV_ERROR_MODULES(X)    \
    X(kModuleCore, 1)          \
    X(kModuleHardwareLight, 2) \
    X(kIdCharsetModule, 384)   \
    X(kIdFrameModule, 1027)    \
    X(kIdImageModule, 1030)    \
    X(kIdTextureModule, 1032)  \
    X(kIdMeshModule, 0x502)

// X(name, module, value, words)
#define KV_MODULE_ERRORS(X)                                                                       \
    /* the engine core, and the modules that raise their codes under it */                        \
    X(kErrStreamEnd, kModuleCore, 5, "a read or skip went past the end of the stream")            \
    X(kErrResourcesArenaFull, kModuleCore, 12, "the resource arena cannot hold the entry")        \
    X(kErrStreamBadAccess, kModuleCore, 13, "invalid stream access type")                         \
    X(kErrStreamBadType, kModuleCore, 14, "invalid stream type")                                  \
    X(kErrCoreNoCamera, kModuleCore, 16, "render state set with no current camera")               \
    X(kErrCoreUnsupportedRequest, kModuleCore, 24, "the device does not support the request")     \
    X(kErrZeroLengthVector, kModuleCore, 25, "a vector of zero length cannot be normalised")      \
    X(kErrPipeCycle, kModuleCore, 28, "the pipeline's nodes form a cycle")                        \
    X(kErrPipeRequiredDropped, kModuleCore, 29, "a cluster a node requires does not reach it")    \
    X(kErrPipeDuplicateCluster, kModuleCore, 30, "a node lists the same cluster twice")           \
    X(kErrPipeEmptyCluster, kModuleCore, 31, "a node lists a cluster with no type")               \
    X(kErrPipeResolveMemory, kModuleCore, 32, "out of memory while unlocking the pipeline")       \
    X(kErrPipeTooManySlots, kModuleCore, 33, "the pipeline needs more than 32 cluster slots")     \
    X(kErrPipeNoInputs, kModuleCore, 34, "a node other than the entry has no inputs")             \
    X(kErrIm3DNoBatch, kModuleCore, 35, "no immediate-mode batch is open")                        \
    X(kErrPipeBadEntry, kModuleCore, 36, "the entry node is missing or has inputs")               \
    X(kErrIm3DPrimType, kModuleCore, 37, "primitive type not supported by immediate mode")        \
    X(kErrPipeTooManyClusters, kModuleCore, 40, "a node has too many clusters")                   \
    X(kErrPipeTooManyOutputs, kModuleCore, 41, "a node has too many outputs")                     \
    X(kErrIm3DTooManyVertices, kModuleCore, 49, "too many vertices for one immediate-mode batch") \
    X(kErrPipeNotLocked, kModuleCore, 51, "the pipeline is not locked")                           \
    X(kErrWorldClumpInWorld, kModuleCore, 3, "the clump is already in a world")                   \
    X(kErrWorldClumpNotInWorld, kModuleCore, 4, "the clump is not in that world")                 \
    /* modules with codes of their own */                                                         \
    X(kErrFrameCycle, kIdFrameModule, 1, "a frame cannot become a child of its own descendant")   \
    X(kErrPngWrite, kIdImageModule, 1, "the PNG could not be written")                            \
    X(kErrImageFileMalformed, kIdImageModule, 2, "not a valid image file")                        \
    X(kErrImageFileTooLarge, kIdImageModule, 3, "image too large")                                \
    X(kErrPngRead, kIdImageModule, 4, "damaged or unsupported PNG file")                          \
    X(kErrTextureRead, kIdTextureModule, 22, "the texture's picture could not be read")           \
    X(kErrMeshStreamMalformed, kIdMeshModule, 1, "the mesh data in the file is malformed")
