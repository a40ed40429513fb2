// Placeholder of the stand-in card library: every routine answers 45 until
// the simulated card is built.
#include "platform/card.h"
#include "standins/applicom/applicom_control.h"

QUN_EXPORT void QUN_CDECL initbus(int16_t* s) { *s = 0; }
QUN_EXPORT void QUN_CDECL exitbus(int16_t* s) { *s = 0; }
QUN_EXPORT void QUN_CDECL readpackbit(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readpackibit(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readpackqbit(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readibyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readqbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readpackbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readpackibyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readpackqbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readiword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readqword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readwordbcd(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readdword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readfword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readtimer(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readcounter(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writepackbit(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writepackqbit(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writebyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writeqbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writepackbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writepackqbyte(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writeword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writeqword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writewordbcd(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writedword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writefword(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writetimer(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL writecounter(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL readquickbit(int16_t*, int16_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL getpackbit(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL getpackbyte(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL getword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL getdword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL getfword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setpackbit(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setbit(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setpackbyte(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setdword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL setfword(int16_t*, int16_t*, int32_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL createcyc(int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int32_t*, int16_t*, int16_t*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL startcyc(int16_t*, int16_t*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL stopcyc(int16_t*, int16_t*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL transcycpack(int16_t*, int16_t*, int16_t*, int16_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void QUN_CDECL AppGetCycParam(int16_t*, int16_t*, void*, int16_t* s) { *s = 45; }
QUN_EXPORT void ApcReset(void) {}
