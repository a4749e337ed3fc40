' Script Encoder text is decoded on load; plain text around the block stays as it is.
WScript.Echo "plain before"
#@~^6AAAAA==/^ldkPU+mM+D@#@&,PKE(Vr^,sE	^YbWx,]n\l^`$X]n6Ph/Tb@#@&P~~,:/L~{Ph/T~LPE,@!9+mKN[@*r@#@&P,P~]\+msP{PSUc:ko*@#@&P~3	N~s!UmDkGU@#@&2U[,Zslkd@#@&9b:,/~,x@#@&/,'~J4k[[xP@$~hKD3r@#@&x,',`H+A~U+^DO#cIn-lVcd*@#@&U^Mk2DRAmtKPkSP	@#@&Vz0AAA==^#~@
WScript.Echo "plain after"
