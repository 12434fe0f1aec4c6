// iTunes's playlists and music folders, for the discovery of other players.
#include "MxModule/foundation/MxPublic.h"

// iTunes's reader is not part of the module yet: the player is never found.
void CMxPublic::FindITune(OTHERPLAYERMAP*, HWND) {}
