/* The binary interface of VST 2 plug-ins as far as this host uses it: the plug-in
   object's layout, the entry point, the opcodes and flags we call. Written from the
   published layout; plain C so that the test plug-ins share it. */
#ifndef QUILLET_VST_ABI_H
#define QUILLET_VST_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VstPlugin VstPlugin;
typedef intptr_t (*VstHostCallback)(VstPlugin* plugin, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                    float opt);
typedef intptr_t (*VstDispatcher)(VstPlugin* plugin, int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                  float opt);
typedef void (*VstProcess)(VstPlugin* plugin, float** inputs, float** outputs, int32_t frames);
typedef void (*VstSetParameter)(VstPlugin* plugin, int32_t index, float value);
typedef float (*VstGetParameter)(VstPlugin* plugin, int32_t index);
typedef VstPlugin* (*VstEntry)(VstHostCallback host);

struct VstPlugin {
  int32_t magic;
  VstDispatcher dispatcher;
  VstProcess processAccumulating; /* the old adding call: never used */
  VstSetParameter setParameter;
  VstGetParameter getParameter;
  int32_t programs;
  int32_t parameters;
  int32_t inputs;
  int32_t outputs;
  int32_t flags;
  intptr_t reserved1;
  intptr_t reserved2;
  int32_t initialDelay;
  int32_t realQualities;
  int32_t offQualities;
  float ioRatio;
  void* object;
  void* user;
  int32_t uniqueId;
  int32_t version;
  VstProcess processReplacing;
  void* processDoubleReplacing;
  char future[56];
};

/* The editor's size, as the plug-in gives it. */
typedef struct {
  int16_t top, left, bottom, right;
} VstRect;

enum {
  kVstMagic = 0x56737450, /* "VstP" */
  kVstFlagHasEditor = 1 << 0,
  kVstFlagCanReplacing = 1 << 4,

  kVstOpOpen = 0,
  kVstOpClose = 1,
  kVstOpGetParamName = 8,
  kVstOpEditGetRect = 13,
  kVstOpEditOpen = 14,
  kVstOpEditClose = 15,
  kVstOpEditIdle = 19,
  kVstOpSetSampleRate = 10,
  kVstOpSetBlockSize = 11,
  kVstOpMainsChanged = 12,
  kVstOpGetEffectName = 45,

  kVstHostVersion = 1,
  kVstHostVersionAnswer = 2400,
  kVstParamNameBytes = 64
};

#ifdef __cplusplus
}
#endif

#endif
