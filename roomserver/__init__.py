"""The room server: what serve-pxe, serve-room and send-image run once their bash has prepared the run.

One process, one thread (asyncio): it owns its children (dnsmasq, udp-sender, etherwake), holds the one model
of the room (room.py) and draws it (views.py). Everything that comes from the network is checked before it
reaches the model, the journal, the terminal or the page.
"""
