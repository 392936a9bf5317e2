#pragma once

// Whether libmosquitto could be loaded; it is loaded by the first call into it.
bool MosquittoLibraryLoaded();
