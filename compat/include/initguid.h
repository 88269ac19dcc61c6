// GUIDs are defined once in the simulation library; nothing to instantiate here.
#pragma once
