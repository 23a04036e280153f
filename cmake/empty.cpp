// The shared object is made of the qvcore archive; this unit only gives the target a source.
